// ulen3: the desktop program. No command-line arguments.

#include "HelpViewer.h"
#include "Settings.h"
#include "TableFile.h"
#include "Translations.h"
#include "UserDialogs.h"
#include "about.h"
#include "logo.h"
#include "main.h"
#include "receive.h"

#include <QApplication>

#include <memory>

namespace {

// The general error handler: an error that a handler did not catch is shown by the main
// window, with the application's title and an error icon; the program goes on.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    ulen3::TForm1* form = nullptr;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            if (form)
                form->showError(e);
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    using namespace ulen3;
    ignore_file_size_signal();
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ВЕСКОР"));
    install_qt_translations(app);
    const QString programDir = QApplication::applicationDirPath();
    const QString programFile = QApplication::applicationFilePath();

    auto results = std::make_unique<DownloadResults>();
    QtUserDialogs dialogs;
    UserSettings settings;
    TForm2 download(*results);
    download.setErrorBox([&dialogs](QWidget* parent, const QString& caption, const QString& text, const QString& details) {
        dialogs.error(parent, caption, text, details);
    });
    TForm1 form(dialogs, settings, download, *results);
    app.form = &form;
    form.ShowHelp = [&form, &dialogs, programDir] { show_help(&form, dialogs, programDir); };
    Tform6 about(programFile, &form);
    form.ShowAbout = [&about] { about.exec(); };
    {
        TForm5 splash;
        splash.exec();
    }
    form.showAsStored();
    const int status = app.exec();
    app.form = nullptr;
    return status;
}
