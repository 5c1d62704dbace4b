#pragma once

// Qt's own texts (message box buttons, file dialogs, editors' menus) in Russian, as the rest of
// the program speaks.

class QCoreApplication;

namespace ulen3 {

// Loads Qt's Russian translations from Qt's translations folder; false when they are not
// installed (the program then shows Qt's English texts).
bool install_qt_translations(QCoreApplication& app);

} // namespace ulen3
