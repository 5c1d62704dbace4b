// ulen3: the desktop program. One optional argument: a table to open as "Открыть" would (the
// desktop's "Open with"); --help and --version print and end.

#include "app/HelpViewer.h"
#include "app/about.h"
#include "app/logo.h"
#include "base/File.h"
#include "dialogs/UserDialogs.h"
#include "link/receive.h"
#include "settings/Settings.h"
#include "ui/Translations.h"
#include "ui/main.h"

#include <QApplication>

#include <cstdio>
#include <string_view>

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

const char* const kUsage =
    "Использование: ulen3 [ТАБЛИЦА.db]\n"
    "Без аргумента программа открывается без документа; с таблицей открывает её, как «Открыть».\n";

// What the command line asks: the table to open, or a text to print and the exit status.
struct CommandLine {
    QString table;
    bool end = false;
    int status = 0;
};

CommandLine read_command_line(const QStringList& args, const QString& programDir) {
    CommandLine line;
    const auto say = [&line](FILE* to, const QString& text, int status) {
        std::fputs(text.toLocal8Bit().constData(), to);
        line.end = true;
        line.status = status;
    };
    for (qsizetype i = 1; i < args.size() && !line.end; ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            const QString help = ulen3::help_contents(programDir);
            say(stdout,
                QString::fromUtf8(kUsage) + QStringLiteral("Справка: ") +
                    (help.isEmpty() ? QStringLiteral("не найдена") : help) + '\n',
                0);
        } else if (a == QLatin1String("--version")) {
            say(stdout, QStringLiteral("ulen3 %1\n").arg(QStringLiteral(ULEN3_VERSION)), 0);
        } else if (a.startsWith(QLatin1Char('-')) || !line.table.isEmpty()) {
            say(stderr, QStringLiteral("ulen3: непонятный аргумент «%1»\n").arg(a) + QString::fromUtf8(kUsage), 2);
        } else {
            line.table = a;
        }
    }
    return line;
}

// True when the arguments ask for a printed text (help, version, or what is wrong with them):
// that needs no display.
bool prints_only(int argc, char** argv) {
    int tables = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h" || a == "--version")
            return true;
        tables += a.empty() || a[0] != '-';
    }
    return tables > 1;
}

} // namespace

int main(int argc, char** argv) {
    using namespace ulen3;
    if (prints_only(argc, argv)) {
        QCoreApplication core(argc, argv);
        return read_command_line(QCoreApplication::arguments(), QCoreApplication::applicationDirPath()).status;
    }
    ignore_file_size_signal();
    Application app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ВЕСКОР"));
    install_qt_translations(app);
    const QString programDir = QApplication::applicationDirPath();
    const QString programFile = QApplication::applicationFilePath();
    const CommandLine line = read_command_line(QApplication::arguments(), programDir);
    if (line.end)
        return line.status;
    // The program's icon on every window, and the desktop entry it belongs to.
    QApplication::setWindowIcon(application_icon());
    QGuiApplication::setDesktopFileName(QStringLiteral("com.dornvale.ulen3"));

    auto results = std::make_unique<DownloadResults>();
    QtUserDialogs dialogs;
    SettingsStore& settings = user_settings();
    TForm2 download(*results);
    TForm1 form(dialogs, settings, download, *results);
    app.form = &form;
    form.setHelp([&form, &dialogs, programDir] { show_help(&form, dialogs, programDir); });
    Tform6 about(programFile, &form);
    form.setAbout([&about] { about.exec(); });
    {
        TForm5 splash;
        splash.exec();
    }
    form.showAsStored();
    if (!line.table.isEmpty())
        form.openChosen(line.table);
    const int status = app.exec();
    app.form = nullptr;
    return status;
}
