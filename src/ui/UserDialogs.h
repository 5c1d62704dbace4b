#pragma once

// The dialogs and message boxes of the main window, behind one small interface so that tests
// answer them without a person.

#include <QColor>
#include <QString>

#include <optional>

class QWidget;

namespace ulen3 {

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // A file name, or empty when cancelled. filter as "Базы данных|*.db".
    virtual QString openFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                             const QString& folder) = 0;
    // confirmOverwrite: ask before an existing file is chosen.
    virtual QString saveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                             const QString& folder, bool confirmOverwrite) = 0;
    virtual bool question(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void error(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual void information(QWidget* parent, const QString& caption, const QString& text) = 0;
    virtual std::optional<QColor> color(QWidget* parent, const QColor& initial) = 0;
};

// The platform's own dialogs.
class QtUserDialogs : public UserDialogs {
public:
    QString openFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                     const QString& folder) override;
    QString saveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                     const QString& folder, bool confirmOverwrite) override;
    bool question(QWidget* parent, const QString& caption, const QString& text) override;
    void error(QWidget* parent, const QString& caption, const QString& text) override;
    void information(QWidget* parent, const QString& caption, const QString& text) override;
    std::optional<QColor> color(QWidget* parent, const QColor& initial) override;
};

} // namespace ulen3
