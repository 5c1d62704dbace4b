// ulen3: the desktop program. No command-line arguments.

#include "HelpViewer.h"
#include "UserDialogs.h"
#include "about.h"
#include "logo.h"
#include "main.h"
#include "receive.h"

#include <QApplication>
#include <QMessageBox>

#include <memory>

namespace {

// The general error handler: an error that a handler did not catch is shown with the
// application's title and an error icon, with a full stop at its end; the program goes on.
class Application : public QApplication {
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& e) {
            QString text = QString::fromStdString(e.what());
            if (!text.endsWith('.'))
                text += '.';
            QMessageBox::critical(activeWindow(), QStringLiteral("ВЕСКОР"), text);
        }
        return false;
    }
};

} // namespace

int main(int argc, char** argv) {
    using namespace ulen3;
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ВЕСКОР"));
    const QString programDir = QApplication::applicationDirPath();
    const QString programFile = QApplication::applicationFilePath();

    auto results = std::make_unique<DownloadResults>();
    QtUserDialogs dialogs;
    TForm2 download(*results);
    TForm1 form(dialogs, download, *results);
    form.ShowHelp = [&form, programDir] { show_help(&form, programDir); };
    Tform6 about(programFile, &form);
    form.ShowAbout = [&about] { about.exec(); };
    {
        TForm5 splash;
        splash.exec();
    }
    form.showMaximized();
    return app.exec();
}
