// The main window and the document lifecycle, with the dialogs answered in advance.

#include "SampleImage.h"
#include "dialogs/UserDialogs.h"
#include "link/ImageArchive.h"
#include "link/PortNames.h"
#include "link/receive.h"
#include "settings/Settings.h"
#include "support/Emulator.h"
#include "support/TableFixture.h"
#include "support/UserKey.h"
#include "support/WindowFixture.h"
#include "ui/PortsDialog.h"
#include "ui/Translations.h"
#include "ui/main.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "print/ReportPreview.h"

#include <gtest/gtest.h>

#include <deque>

#include <unistd.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

class MainWindowTest : public WindowFixture {};

const char* const kDocumentCommands[] = {
    "Дополнить",        "Сохранить",         "Закрыть",        "Предварительный просмотр",
    "Печать",           "Выровнять столбцы", "Задать цвет",    "Убрать цвет",
    "Убрать все цвета", "Убрать сортировку", "Удалить строки", "Перенумеровать строки",
    "Экспорт в Excel"};
const char* const kAlwaysCommands[] = {"Создать", "Открыть", "Выход", "Помощь", "О программе"};

TEST_F(MainWindowTest, StartStateHasNoDocument) {
    EXPECT_EQ(form->title(), "ВЕСКОР");
    EXPECT_FALSE(form->document().isOpen());
    EXPECT_FALSE(form->pagesShown());
    EXPECT_EQ(form->backgroundColor(), form->palette().color(QPalette::Dark));
    for (const char* c : kDocumentCommands)
        EXPECT_FALSE(form->commandEnabled(QString::fromUtf8(c))) << c;
    for (const char* c : kAlwaysCommands)
        EXPECT_TRUE(form->commandEnabled(QString::fromUtf8(c))) << c;
    for (const char* c :
         {"Создать", "Открыть", "Сохранить", "Предварительный просмотр", "Печать", "Помощь", "Удалить строки"})
        EXPECT_TRUE(form->commandHasIcon(QString::fromUtf8(c))) << c;
    EXPECT_FALSE(form->commandHasIcon(QStringLiteral("Закрыть")));
    // The default folder was created in the settings at start.
    EXPECT_FALSE(test::settings_value("Default_dir").isEmpty());
    // The operative grid binds H twice: with one and with two decimals.
    EXPECT_EQ(form->grid(PageKind::Operative)->Columns().ByFieldName("H"), 6);
    EXPECT_EQ(form->grid(PageKind::Operative)->Columns().Items(7).FieldName, "H");
    EXPECT_EQ(form->grid(PageKind::Operative)->Columns().Items(7).DisplayFormat, "0.00");
    EXPECT_EQ(form->grid(PageKind::Observation)->Columns().Items(4).Caption, QString::fromUtf8("T\u043d, \u00b0C"));
}

TEST_F(MainWindowTest, OpenShowsThePageForTheTablesKind) {
    const QString observations = tableFile("survey.db", {0, 0, 0});
    dialogs.files = {observations};
    form->N3Click();
    EXPECT_TRUE(form->document().isOpen());
    EXPECT_EQ(form->title(), "survey - ВЕСКОР");
    EXPECT_TRUE(tabVisible(0));
    EXPECT_FALSE(tabVisible(1));
    EXPECT_EQ(form->grid(PageKind::Observation)->view()->model()->rowCount(), 3);
    EXPECT_EQ(form->backgroundColor(), form->palette().color(QPalette::Button));
    EXPECT_EQ(form->document().folder(), QFileInfo(observations).absolutePath());
    for (const char* c : kDocumentCommands)
        EXPECT_TRUE(form->commandEnabled(QString::fromUtf8(c))) << c;

    // One operative record among many: only "Оперативный", with that record.
    EXPECT_TRUE(form->Open_DB(tableFile("mixed.db", {0, 0, 1, 0})));
    EXPECT_FALSE(tabVisible(0));
    EXPECT_TRUE(tabVisible(1));
    EXPECT_EQ(form->table().Filter(), "NB_TYPE=1");
    EXPECT_EQ(form->grid(PageKind::Operative)->view()->model()->rowCount(), 1);

    // An empty table: "Наблюдения" with an empty grid.
    EXPECT_TRUE(form->Open_DB(tableFile("empty.db", {})));
    EXPECT_TRUE(tabVisible(0));
    EXPECT_EQ(form->grid(PageKind::Observation)->view()->model()->rowCount(), 0);
}

TEST_F(MainWindowTest, OpenFailureAndCancel) {
    dialogs.files = {tableFile("survey.db", {0})};
    form->N3Click();
    ASSERT_TRUE(form->document().isOpen());
    // Cancelling the open dialog keeps the document.
    dialogs.files = {""};
    form->N3Click();
    EXPECT_TRUE(form->document().isOpen());
    EXPECT_EQ(form->title(), "survey - ВЕСКОР");
    // A file that is not a table: the message, and no document.
    write_file(dir.file("broken.db"), {1, 2, 3});
    dialogs.files = {QString::fromStdString(dir.file("broken.db"))};
    form->N3Click();
    EXPECT_EQ(dialogs.asked.back(), "error|Ошибка|База данных повреждена !");
    EXPECT_NE(dialogs.lastDetails.indexOf("не является таблицей"), -1) << dialogs.lastDetails.toStdString();
    EXPECT_FALSE(form->document().isOpen());
    EXPECT_FALSE(form->pagesShown());
    EXPECT_EQ(form->title(), "ВЕСКОР");
    // A sound table that another program holds: the same text, and the reason under it, so that
    // nobody throws a good file away.
    const QString held = tableFile("held.db", {0});
    ObservationTable other;
    other.Open(held.toStdString());
    dialogs.files = {held};
    form->N3Click();
    EXPECT_EQ(dialogs.asked.back(), "error|Ошибка|База данных повреждена !");
    EXPECT_NE(dialogs.lastDetails.indexOf("занят другой программой"), -1) << dialogs.lastDetails.toStdString();
    EXPECT_FALSE(form->document().isOpen());
}

// A table named on the command line (the desktop's "Open with") opens as "Открыть" would, also
// over a document already open and by a path relative to the current folder.
TEST_F(MainWindowTest, ATableChosenOutsideTheOpenDialogOpensAsOpenWould) {
    form->openChosen(tableFile("first.db", {0}));
    ASSERT_TRUE(form->document().isOpen());
    const QString second = tableFile("survey.db", {0, 0});
    const QString before = QDir::currentPath();
    QDir::setCurrent(QString::fromStdString(dir.path()));
    form->openChosen("survey.db");
    QDir::setCurrent(before);
    EXPECT_TRUE(form->document().isOpen());
    EXPECT_EQ(form->title(), "survey - ВЕСКОР");
    EXPECT_EQ(QString::fromStdString(form->table().Path()), second);
    EXPECT_EQ(form->grid(PageKind::Observation)->view()->model()->rowCount(), 2);
    EXPECT_EQ(form->document().folder(), QFileInfo(second).absolutePath());
    // A name that is no table: the open's own message, and no document.
    form->openChosen(QString::fromStdString(dir.file("missing.db")));
    EXPECT_EQ(dialogs.asked.back(), "error|Ошибка|База данных повреждена !");
    EXPECT_FALSE(form->document().isOpen());
}

// Every menu opens from the keyboard: Alt and the underlined letter, no letter twice in a menu.
TEST_F(MainWindowTest, MenusHaveMnemonicsOfTheirOwn) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    const auto mnemonic = [](const QString& text) {
        const qsizetype at = text.indexOf(QLatin1Char('&'));
        return at < 0 || at + 1 >= text.size() ? QChar() : text.at(at + 1).toLower();
    };
    const auto unique = [&](const QList<QAction*>& actions, const std::string& where) {
        QSet<QChar> seen;
        for (QAction* a : actions) {
            if (a->isSeparator())
                continue;
            const QChar m = mnemonic(a->text());
            EXPECT_FALSE(m.isNull()) << where << ": " << a->text().toStdString();
            EXPECT_FALSE(seen.contains(m)) << where << ": " << a->text().toStdString();
            seen.insert(m);
        }
    };
    unique(form->menuBar()->actions(), "menu bar");
    for (QAction* top : form->menuBar()->actions())
        unique(top->menu()->actions(), top->text().toStdString());
    for (QMenu* popup : form->findChildren<QMenu*>(Qt::FindDirectChildrenOnly))
        unique(popup->actions(), "popup");

    // Alt+Ф opens "Файл".
    QMenu* file = form->menuBar()->actions().front()->menu();
    const auto ef = static_cast<Qt::Key>(QChar(u'Ф').unicode());
    QTest::sendKeyEvent(QTest::Press, form->windowHandle(), ef, QStringLiteral("ф"), Qt::AltModifier);
    QTest::sendKeyEvent(QTest::Release, form->windowHandle(), ef, QStringLiteral("ф"), Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([file] { return file->isVisible(); }, 2000));
    file->close();
}

TEST_F(MainWindowTest, CloseAsksOnlyWhenChangedAndDeletesTheIndex) {
    const QString path = tableFile("survey.db", {0, 0});
    ASSERT_TRUE(form->Open_DB(path));
    // A sort in force leaves an index file beside the table.
    form->table().AddTag("tab1", "P", false);
    form->table().SetIndexName("tab1");
    const QString mdx = QFileInfo(path).absolutePath() + "/survey.mdx";
    ASSERT_TRUE(QFileInfo::exists(mdx));
    form->Close_DB();
    EXPECT_TRUE(std::none_of(dialogs.asked.begin(), dialogs.asked.end(),
                             [](const QString& a) { return a.startsWith("question"); }));
    EXPECT_FALSE(QFileInfo::exists(mdx));
    EXPECT_FALSE(form->pagesShown());
    EXPECT_EQ(form->title(), "ВЕСКОР");
    for (const char* c : kDocumentCommands)
        EXPECT_FALSE(form->commandEnabled(QString::fromUtf8(c))) << c;

    ASSERT_TRUE(form->Open_DB(path));
    form->grid(PageKind::Observation)->OnInitEdit(form->grid(PageKind::Observation)); // the user begins an edit
    dialogs.answers = {false};
    form->Close_DB();
    EXPECT_EQ(dialogs.asked.back(), "question|ВЕСКОР|Сохранить изменения в таблицах ?");
    EXPECT_FALSE(form->document().isChanged());
}

TEST_F(MainWindowTest, CellEditMarksTheDocumentChangedAndSaveKeepsTheView) {
    ASSERT_TRUE(form->Open_DB(tableFile("survey.db", {0, 0, 0})));
    QAbstractItemModel* model = form->grid(PageKind::Observation)->view()->model();
    form->grid(PageKind::Observation)->view()->edit(model->index(1, 8));
    EXPECT_TRUE(form->document().isChanged());
    model->setData(model->index(1, 8), QStringLiteral("Плита 2"));
    form->Save_DB();
    EXPECT_FALSE(form->document().isChanged());
    EXPECT_TRUE(form->document().isOpen());
    EXPECT_EQ(form->table().Filter(), "NB_TYPE=0");
    EXPECT_EQ(form->grid(PageKind::Observation)->CellText(1, 8), "Плита 2");
}

TEST_F(MainWindowTest, CloseWithAnEditInProgressKeepsItOnlyOnYes) {
    const QString path = tableFile("survey.db", {0, 0});
    for (bool yes : {false, true}) {
        ASSERT_TRUE(form->Open_DB(path));
        QTableView* view = form->grid(PageKind::Observation)->view();
        view->edit(view->model()->index(0, 8));
        QLineEdit* editor = nullptr;
        for (QLineEdit* e : view->viewport()->findChildren<QLineEdit*>())
            if (!e->isHidden())
                editor = e;
        ASSERT_NE(editor, nullptr);
        editor->setText(yes ? QStringLiteral("да") : QStringLiteral("нет"));
        dialogs.answers = {yes};
        form->Close_DB();
        ObservationTable t;
        t.Open(path.toStdString());
        EXPECT_EQ(t.Text(Field::COMMENT), yes ? "да" : "") << yes;
    }
}

// Answers the next message box that opens with the given button, and remembers its text.
void answer_next_box(QMessageBox::StandardButton button, QString& text) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, button, &text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        text = box->text();
        box->button(button)->click();
        timer->deleteLater();
    });
    timer->start(20);
}

// A real question box takes the focus from a real editor: the edit stays open until the answer,
// and only Yes writes it.
TEST_F(MainWindowTest, TheAnswerToTheSaveQuestionDecidesAnEditStillOpen) {
    const QString path = tableFile("survey.db", {0, 0});
    QtUserDialogs real;
    auto window = std::make_unique<TForm1>(real, settings, *download, *results);
    window->setWindowState(Qt::WindowNoState);
    window->resize(900, 500);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    for (bool yes : {false, true}) {
        const auto before = read_file(path.toStdString());
        ASSERT_TRUE(window->Open_DB(path));
        QTableView* view = window->grid(PageKind::Observation)->view();
        const QModelIndex cell = view->model()->index(1, 8);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(cell).center());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(cell).center());
        QLineEdit* editor = open_editor(view);
        ASSERT_NE(editor, nullptr);
        type_text(editor, yes ? QStringLiteral("Плита да") : QStringLiteral("Плита нет"));
        EXPECT_TRUE(window->document().isChanged());
        QString asked;
        answer_next_box(yes ? QMessageBox::Yes : QMessageBox::No, asked);
        window->N7Click();
        EXPECT_EQ(asked, "Сохранить изменения в таблицах ?");
        EXPECT_FALSE(window->document().isOpen());
        if (!yes) {
            EXPECT_TRUE(read_file(path.toStdString()) == before) << "the edit reached the file";
        } else {
            ObservationTable t;
            t.Open(path.toStdString());
            t.Next();
            EXPECT_EQ(t.Text(Field::COMMENT), "Плита да");
        }
    }
}

// Qt's own texts speak Russian: the buttons of a question box and the file dialog.
TEST_F(MainWindowTest, QtsOwnTextsAreRussian) {
    ASSERT_TRUE(install_qt_translations(*QCoreApplication::instance()));
    QMessageBox box(QMessageBox::Question, "ВЕСКОР", "?", QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove('&'), "Да");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove('&'), "Нет");
    QFileDialog dialog(nullptr, QString(), QString::fromStdString(dir.path()));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    QStringList texts;
    for (QPushButton* b : dialog.findChildren<QPushButton*>())
        texts << b->text().remove('&');
    for (QLabel* l : dialog.findChildren<QLabel*>())
        texts << l->text().remove('&');
    EXPECT_TRUE(texts.contains("Отмена")) << texts.join('|').toStdString();
    EXPECT_TRUE(texts.contains("Имя файла:")) << texts.join('|').toStdString();
    // The toolbar offers no menu that could hide it.
    EXPECT_EQ(form->createPopupMenu(), nullptr);
}

TEST_F(MainWindowTest, DefaultFolderIsWrittenOnWindowCloseNotOnExit) {
    const QString before = test::settings_value("Default_dir");
    form->openChosen(tableFile("survey.db", {0})); // the dialogs' folder becomes the table's
    form->N11Click();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(test::settings_value("Default_dir"), before);
    form->FormClose();
    EXPECT_EQ(test::settings_value("Default_dir"), QString::fromStdString(dir.path()));
}

TEST_F(MainWindowTest, ExitKeepsTheIndexOfASortInForce) {
    const QString path = tableFile("survey.db", {0, 0});
    ASSERT_TRUE(form->Open_DB(path));
    form->table().AddTag("tab1", "P", true);
    form->N11Click();
    form.reset(); // the application shuts down; the table closes with it
    EXPECT_TRUE(QFileInfo::exists(QFileInfo(path).absolutePath() + "/survey.mdx"));
}

// A file that cannot be written is said before the instrument's long download starts.
TEST_F(MainWindowTest, CreateIntoAFolderThatCannotBeWrittenIsRefusedBeforeTheDownload) {
    const QString path = QString::fromStdString(dir.file("no-such-folder/survey.db"));
    dialogs.files = {path};
    for (QAction* a : form->findChildren<QAction*>())
        if (a->text().remove(QLatin1Char('&')) == "Создать")
            a->trigger();
    ASSERT_FALSE(dialogs.asked.empty());
    EXPECT_TRUE(dialogs.asked.back().startsWith("error|ВЕСКОР|Таблицу «survey.db» нельзя записать: нет папки"))
        << dialogs.asked.back().toStdString();
    EXPECT_TRUE(dialogs.asked.back().endsWith("Приём данных не начат.")) << dialogs.asked.back().toStdString();
    EXPECT_FALSE(form->document().isOpen());
    if (::geteuid() != 0) {
        QDir(QString::fromStdString(dir.path())).mkdir("locked");
        QFile::setPermissions(QString::fromStdString(dir.file("locked")),
                              QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        EXPECT_FALSE(TForm1::cannot_write(QString::fromStdString(dir.file("locked/x.db"))).isEmpty());
    }
}

// A Create that fails after the download says where the memory image was kept, and that image
// decodes to the table a sound Create makes.
TEST_F(MainWindowTest, AFailedCreateKeepsTheImageAndNamesIt) {
    const std::string image = dir.file("image.bin");
    write_file(image, sample_image({.count1 = 7, .count2 = 3}));
    Emulator emu(image, {"--serial", "777"});
    test::set_settings_value("COM1", emu.qdevice());
    test::set_settings_value("COM2", QString::fromStdString(dir.file("no-port")));
    // The chosen table is held by another program: writable, but it cannot be created now.
    const QString held = tableFile("held.db", {0});
    ObservationTable other;
    other.Open(held.toStdString());
    dialogs.files = {held};
    for (QAction* a : form->findChildren<QAction*>())
        if (a->text().remove(QLatin1Char('&')) == "Создать")
            a->trigger();
    ASSERT_FALSE(dialogs.asked.empty());
    const QString message = dialogs.asked.back();
    EXPECT_TRUE(message.contains("занят другой программой")) << message.toStdString();
    const int at = message.indexOf("Принятый образ памяти сохранён в «");
    ASSERT_GE(at, 0) << message.toStdString();
    const QString kept = message.mid(at + 34, message.indexOf("»", at) - at - 34);
    ASSERT_TRUE(QFileInfo::exists(kept)) << kept.toStdString();
    EXPECT_EQ(read_file(kept.toStdString()), read_file(image));
    EXPECT_EQ(test::settings_value("Last_port"), emu.qdevice());
    // The kept image through the command line, and the same download through a sound Create.
    const std::string imported = dir.file("imported.db");
    int status = -1;
    run_command(std::string(ULEN3_CLI) + " decode '" + kept.toStdString() + "' " + imported, &status);
    ASSERT_EQ(status, 0);
    const std::string created = dir.file("created.db");
    form->Create_DB(QString::fromStdString(created));
    form->Close_DB();
    const auto dump = [](const std::string& table) { return run_command(std::string(ULEN3_CLI) + " dump " + table); };
    EXPECT_EQ(dump(imported), dump(created));
    EXPECT_NE(dump(imported).find(",777,"), std::string::npos); // the serial came with the file's name
}

// "Порты прибора…": each port chosen or typed, checked, and kept in the settings.
TEST_F(MainWindowTest, ThePortsDialogChecksAndKeepsThePorts) {
    const std::string image = dir.file("image.bin");
    write_file(image, sample_image({.count1 = 1, .count2 = 1}));
    Emulator emu(image);
    test::set_settings_value("Last_port", emu.qdevice());
    // The platform's own boxes: the folder's box below is a real one, answered by a timer.
    QtUserDialogs boxes;
    PortsDialog ports(settings, boxes, form.get());
    const QString missing = QString::fromStdString(dir.file("no-port"));
    ports.choose(0, missing);
    ports.choose(1, emu.qdevice());
    ports.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&ports));
    // The dialog's own check sends nobody to the dialog, and its text is shown whole.
    EXPECT_EQ(ports.check(0),
              "Устройства «" + missing + "» нет: проверьте, что переходник подключён, или выберите другой порт.");
    QApplication::processEvents();
    for (QLabel* l : ports.findChildren<QLabel*>())
        if (l->text().startsWith("Устройства")) {
            const QRect needed = l->fontMetrics().boundingRect(l->contentsRect(), Qt::TextWordWrap, l->text());
            EXPECT_LE(needed.height(), l->contentsRect().height());
            EXPECT_LE(l->geometry().bottom(), ports.height());
        }
    // A COM2 without a device, while another port is present: not "no ports found".
    if (serial_devices_present().size() == 1) {
        ports.choose(1, "");
        EXPECT_EQ(ports.check(1), "COM2 не назначен: выберите порт из списка.");
        ports.choose(1, emu.qdevice());
    }
    EXPECT_TRUE(ports.check(1).startsWith("" + emu.qdevice() + " открывается")) << ports.check(1).toStdString();
    ports.store();
    EXPECT_EQ(test::settings_value("COM1"), missing);
    EXPECT_EQ(test::settings_value("COM2"), emu.qdevice());
    bool shown = false;
    for (QLabel* l : ports.findChildren<QLabel*>())
        shown = shown || l->text() == "Последний раз прибор ответил на " + emu.qdevice() + ".";
    EXPECT_TRUE(shown);
    EXPECT_TRUE(form->commandEnabled("Порты прибора…"));

    // Without a file manager the folder's path is shown, and can be copied.
    QString said;
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &said] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        said = box->text() + "|" + box->informativeText();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == "Копировать путь")
                b->click();
        timer->deleteLater();
    });
    timer->start(20);
    for (QPushButton* b : ports.findChildren<QPushButton*>())
        if (b->text() == "Папка журналов и образов памяти")
            b->click();
    const QString folder = QFileInfo(log_folder()).absolutePath();
    EXPECT_EQ(said, "Папку журналов и образов памяти не удалось открыть: в системе нет программы для просмотра "
                    "папок. Она находится здесь:|" +
                        folder);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), folder);
}

TEST_F(MainWindowTest, CreateAndAppendOverThePseudoTerminal) {
    // The instrument: 12 + 4 records first, then a longer memory with 3 + 2 new ones.
    const std::string first = dir.file("first.bin");
    write_file(first, sample_image({.count1 = 12, .count2 = 4}));
    Emulator emu(first);
    test::set_settings_value("COM1", emu.qdevice());
    test::set_settings_value("COM2", QString::fromStdString(dir.file("no-port")));

    // Create: the save dialog asks before replacing, the download runs for real.
    const QString path = QString::fromStdString(dir.file("created.db"));
    dialogs.files = {path};
    form->N2Click();
    ASSERT_TRUE(form->document().isOpen()) << (dialogs.asked.empty() ? "" : dialogs.asked.back().toStdString());
    EXPECT_TRUE(dialogs.lastConfirmOverwrite);
    EXPECT_EQ(form->title(), "ВЕСКОР"); // Create leaves the title alone
    EXPECT_EQ(form->table().VisibleCount(), 16);
    EXPECT_TRUE(tabVisible(0));

    // The same instrument later holds three more records in section 1 and the same section 2:
    // the longer memory adds exactly the new records.
    const std::string second = dir.file("second.bin");
    auto longer = sample_image({.count1 = 15, .count2 = 0});
    longer.resize(2 + 22 * 15);
    const auto firstImage = read_file(first);
    longer.insert(longer.end(), firstImage.begin() + 2 + 22 * 12, firstImage.end());
    write_file(second, longer);
    Emulator emu2(second);
    test::set_settings_value("COM1", emu2.qdevice());
    dialogs.asked.clear();
    // While each box says how many records were added, the page already shows them.
    std::vector<QString> shownAtBoxes;
    dialogs.onMessage = [&] {
        TDBGridPro* grid = form->grid(PageKind::Observation);
        shownAtBoxes.push_back(QString::number(grid->view()->model()->rowCount()) + "|" +
                               grid->Columns().Items(grid->Columns().ByFieldName("N")).FooterText);
    };
    form->N4Click();
    dialogs.onMessage = nullptr;
    const QString all = QString::number(form->table().VisibleCount());
    EXPECT_EQ(shownAtBoxes, (std::vector<QString>{all + "|" + all, all + "|" + all}));
    const std::vector<QString> expected = {"information|Дополнение|Добавлено записей: 3",
                                           "information|Дополнение|Добавлено записей: 0"};
    EXPECT_EQ(dialogs.asked, expected) << dialogs.asked.front().toStdString() << " / "
                                       << dialogs.asked.back().toStdString();
    form->table().SetFilter("");
    form->table().Refresh();
    EXPECT_EQ(form->table().VisibleCount(), 16 + 3);
    form->table().Last();
    EXPECT_EQ(form->table().Integer(Field::N), 15); // numbered on from the table
    EXPECT_TRUE(tabVisible(0));
}

} // namespace

namespace {

TEST_F(MainWindowTest, CreateWithARefusedImageLeavesTheOlderFileAsItWas) {
    const QString older = tableFile("older.db", std::vector<int>(40, 0));
    const auto before = read_file(older.toStdString());
    // A download whose sections do not fit the bytes it delivered.
    results->flash_image[0] = 5;
    results->image_size = 20;
    const auto refused = [&](const QString& path) {
        try {
            form->Create_DB(path);
        } catch (const std::exception& e) {
            return std::string(e.what());
        }
        return std::string("accepted");
    };
    const std::string why = refused(older);
    EXPECT_NE(why.find("Образ памяти прибора повреждён"), std::string::npos) << why;
    EXPECT_NE(why.find("Файл «older.db» не изменён."), std::string::npos) << why;
    EXPECT_EQ(read_file(older.toStdString()), before);
    EXPECT_FALSE(form->document().isOpen());
    EXPECT_FALSE(form->pagesShown());
    // A new name: no file at all.
    const QString fresh = QString::fromStdString(dir.file("fresh.db"));
    EXPECT_NE(refused(fresh).find("Таблица «fresh.db» не создана."), std::string::npos);
    EXPECT_FALSE(QFileInfo::exists(fresh));

    // An accepted image still replaces the older file.
    const auto image = sample_image({.count1 = 3, .count2 = 2});
    std::copy(image.begin(), image.end(), results->flash_image.begin());
    results->image_size = image.size();
    form->Create_DB(older);
    EXPECT_TRUE(form->document().isOpen());
    EXPECT_EQ(form->table().VisibleCount(), 5);
    EXPECT_EQ(form->table().FileRecordCount(), 5u);
}

TEST_F(MainWindowTest, SaveWhoseReopenFailsClosesTheDocument) {
    const QString path = tableFile("survey.db", {0});
    ASSERT_TRUE(form->Open_DB(path));
    // Another copy of the program takes the file while it is briefly closed: simulated by
    // removing it.
    QFile::remove(path);
    form->Save_DB();
    EXPECT_FALSE(form->document().isOpen());
    EXPECT_FALSE(form->pagesShown());
    EXPECT_EQ(form->title(), "ВЕСКОР");
    ASSERT_FALSE(dialogs.asked.empty());
    EXPECT_TRUE(dialogs.asked.back().startsWith("error|ВЕСКОР|")) << dialogs.asked.back().toStdString();
}

} // namespace

namespace {} // namespace

namespace {

// Opens a menu of the menu bar and picks its item with the mouse, as a user does.
void pick_with_mouse(QMainWindow* window, const QString& menu, const QString& item) {
    QMenuBar* bar = window->menuBar();
    for (QAction* top : bar->actions()) {
        if (top->text().remove('&') != menu)
            continue;
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(top).center());
        QMenu* popup = top->menu();
        ASSERT_TRUE(QTest::qWaitFor([popup] { return popup->isVisible(); }, 2000)) << menu.toStdString();
        for (QAction* a : popup->actions())
            if (a->text().remove('&') == item) {
                QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(a).center());
                return;
            }
        FAIL() << item.toStdString();
    }
    FAIL() << menu.toStdString();
}

class RealWindowTest : public WindowFixture {
protected:
    QtUserDialogs real;
    std::unique_ptr<TForm1> window;
    int windowQuits = 0;

    void show() {
        window = std::make_unique<TForm1>(real, settings, *download, *results);
        window->setQuit([this] { ++windowQuits; });
        window->setWindowState(Qt::WindowNoState);
        window->resize(900, 500);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void TearDown() override {
        window.reset();
        WindowFixture::TearDown();
    }
    // Starts a real editor on the cell with a click and a double click and types the text.
    QLineEdit* typeInto(TDBGridPro* grid, int row, int column, const QString& text) {
        QTableView* view = grid->view();
        const QPoint at = view->visualRect(view->model()->index(row, column)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        QLineEdit* editor = open_editor(view);
        if (editor) {
            editor->selectAll();
            type_text(editor, text);
        }
        return editor;
    }
};

// "Выход" picked with the mouse while an editor is open: the typed text reaches the file first;
// text the table refuses is said, the program goes on and the editor's record is unchanged.
TEST_F(RealWindowTest, ExitWithTheMouseWritesAnEditStillOpenOrStaysWhenItIsRefused) {
    const QString path = tableFile("survey.db", {0, 0});
    show();
    ASSERT_TRUE(window->Open_DB(path));
    TDBGridPro* grid = window->grid(PageKind::Observation);
    const int r = grid->Columns().ByFieldName("R");
    ASSERT_NE(typeInto(grid, 1, r, "abc"), nullptr);
    QString said;
    answer_next_box(QMessageBox::Ok, said);
    pick_with_mouse(window.get(), "Файл", "Выход");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !said.isEmpty(); }, 3000));
    EXPECT_EQ(said, "«abc» не является числом; запись не изменена.");
    EXPECT_EQ(windowQuits, 0);
    EXPECT_TRUE(window->document().isOpen());

    const int comment = grid->Columns().ByFieldName("COMMENT");
    ASSERT_NE(typeInto(grid, 1, comment, "Плита у окна"), nullptr);
    pick_with_mouse(window.get(), "Файл", "Выход");
    EXPECT_TRUE(QTest::qWaitFor([&] { return windowQuits == 1; }, 3000));
    window.reset(); // the application ends; the table closes with it
    ObservationTable t;
    t.Open(path.toStdString());
    t.Next();
    EXPECT_EQ(t.Text(Field::COMMENT), "Плита у окна");
    EXPECT_TRUE(t.IsNull(Field::R));
}

// Save, export, preview and print leave the user's record current and the rows where they were.
TEST_F(RealWindowTest, SaveExportPreviewAndPrintKeepTheCurrentRecordAndTheScroll) {
    const QString path = tableFile("survey.db", std::vector<int>(300, 0));
    show();
    ASSERT_TRUE(window->Open_DB(path));
    TDBGridPro* grid = window->grid(PageKind::Observation);
    QTableView* view = grid->view();
    view->verticalScrollBar()->setValue(150);
    const QPoint at = view->visualRect(view->model()->index(view->rowAt(40), 2)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    const uint32_t record = window->table().RecordId();
    ASSERT_GT(view->currentIndex().row(), 100);
    // The user's record stays current, at the same height in the window.
    int height = view->rowViewportPosition(view->currentIndex().row());
    const auto unmoved = [&](const char* after) {
        EXPECT_EQ(window->table().RecordId(), record) << after;
        EXPECT_EQ(view->currentIndex().row(), window->table().ViewRow()) << after;
        EXPECT_EQ(view->rowViewportPosition(view->currentIndex().row()), height) << after;
    };
    QTest::keyClick(window.get(), Qt::Key_S, Qt::ControlModifier);
    unmoved("save");
    EXPECT_EQ(view->verticalScrollBar()->value(), 150);
    // A sort the export clears: the record moves in the order, and the window follows it.
    grid->TitleClick(grid->Columns().ByFieldName("P"), false);
    ASSERT_EQ(window->table().RecordId(), record);
    view->scrollTo(view->currentIndex(), QAbstractItemView::PositionAtCenter);
    const int sortedRow = view->currentIndex().row();
    const int sortedAt = view->rowViewportPosition(sortedRow);
    // The export and the PDF of the print go through the file dialog; boxes are answered.
    auto* files = new QTimer(window.get());
    QObject::connect(files, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            auto* name = d->findChild<QLineEdit*>("fileNameEdit");
            name->setText(QString::fromStdString(dir.file(d->defaultSuffix() == "xls" ? "out.xls" : "out.pdf")));
            QTest::keyClick(name, Qt::Key_Return);
        } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(box->buttons().size() > 1 ? QMessageBox::Yes : QMessageBox::Ok)->click();
        } else if (auto* modal = QApplication::activeModalWidget(); modal && modal != window.get()) {
            modal->close(); // the preview
        }
    });
    files->start(50);
    window->Excel1Click();
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(dir.file("out.xls"))));
    EXPECT_EQ(window->table().RecordId(), record);
    EXPECT_NE(view->currentIndex().row(), sortedRow);
    EXPECT_EQ(view->rowViewportPosition(view->currentIndex().row()), sortedAt);
    height = view->rowViewportPosition(view->currentIndex().row());
    window->N8Click();
    unmoved("preview");
    window->N9Click();
    unmoved("print");
    files->stop();
}

// Without a printer, "Печать" says so and offers the report as a PDF.
TEST_F(MainWindowTest, PrintWithoutAPrinterOffersAPdf) {
    if (printers_installed())
        GTEST_SKIP() << "this machine has a printer";
    ASSERT_TRUE(form->Open_DB(tableFile("survey.db", {0, 0, 0})));
    const std::string pdf = dir.file("report.pdf");
    dialogs.answers = {false, true};
    dialogs.files = {QString::fromStdString(pdf)};
    form->N9Click();
    EXPECT_EQ(dialogs.asked.back(), "question|ВЕСКОР|Принтер не установлен. Сохранить отчёт в файл PDF?");
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(pdf)));
    form->N9Click();
    EXPECT_EQ(dialogs.asked.back(), "save|Документ PDF|*.pdf");
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(pdf)));
}

} // namespace
