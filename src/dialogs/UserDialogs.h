#pragma once

// Every dialog and message box the program shows (file, colour and print dialogs, questions,
// messages), behind one small interface so that tests answer them without a person.

#include <QColor>
#include <QString>

#include <optional>

class QPrinter;
class QWidget;

namespace ulen3 {

enum class BoxIcon { Information, Warning, Error };

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // A file name, or empty when cancelled. filter as "Базы данных|*.db".
    virtual QString openFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                             const QString& folder) = 0;
    // confirmOverwrite: ask before an existing file is chosen.
    virtual QString saveFile(QWidget* parent, const QString& filter, const QString& defaultExt, const QString& folder,
                             bool confirmOverwrite) = 0;
    // Yes or No; Enter gives Yes when `yesIsDefault`, No otherwise.
    virtual bool ask(QWidget* parent, const QString& caption, const QString& text, bool yesIsDefault) = 0;
    // A box with one OK button; `details`, when given, says more under the text.
    virtual void message(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text,
                         const QString& details) = 0;
    // A box with a Close button and one of the action's own; true when the action was chosen.
    virtual bool offer(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text,
                       const QString& details, const QString& action) = 0;
    virtual std::optional<QColor> color(QWidget* parent, const QColor& initial) = 0;
    // The print dialog for a document of `sheets` sheets; true when the user confirmed it, with
    // the choices in `printer`.
    virtual bool print(QWidget* parent, QPrinter& printer, int sheets) = 0;

    bool question(QWidget* parent, const QString& caption, const QString& text) {
        return ask(parent, caption, text, true);
    }
    void error(QWidget* parent, const QString& caption, const QString& text, const QString& details = {}) {
        message(parent, BoxIcon::Error, caption, text, details);
    }
    void warning(QWidget* parent, const QString& caption, const QString& text) {
        message(parent, BoxIcon::Warning, caption, text, {});
    }
    void information(QWidget* parent, const QString& caption, const QString& text) {
        message(parent, BoxIcon::Information, caption, text, {});
    }
};

// The platform's own dialogs.
class QtUserDialogs : public UserDialogs {
public:
    QString openFile(QWidget* parent, const QString& filter, const QString& defaultExt, const QString& folder) override;
    QString saveFile(QWidget* parent, const QString& filter, const QString& defaultExt, const QString& folder,
                     bool confirmOverwrite) override;
    bool ask(QWidget* parent, const QString& caption, const QString& text, bool yesIsDefault) override;
    void message(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text,
                 const QString& details) override;
    bool offer(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text, const QString& details,
               const QString& action) override;
    std::optional<QColor> color(QWidget* parent, const QColor& initial) override;
    bool print(QWidget* parent, QPrinter& printer, int sheets) override;
};

// The platform's dialogs for a part that was given none.
UserDialogs& platform_dialogs();

} // namespace ulen3
