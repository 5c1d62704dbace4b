#pragma once

#include <QString>

class QWidget;

namespace ulen3 {

class UserDialogs;

// The contents page of the help: the "ulen3" pages beside the program win over the installed
// "ВЕСКОР" pages. Empty when neither is there.
QString help_contents(const QString& programDir);

// Opens the help at its contents in the program's own viewer; a missing help is said so.
void show_help(QWidget* parent, UserDialogs& dialogs, const QString& programDir);

} // namespace ulen3
