// "Экспорт…" and "Экспорт выбранных строк…" as the user meets them: rows marked by Ctrl+clicks
// in a page sorted by a title click, the command picked with the mouse from the grid's popup,
// the file read back by independent readers; and the real save dialog, whose type chosen with
// the keyboard gives a name typed without an extension its own.

#include "dialogs/UserDialogs.h"
#include "support/WindowFixture.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

const std::string kSheets = std::string("/usr/bin/python3 ") + ULEN3_TESTS_DIR + "/../export/sheets.py ";

class ExportCommandsTest : public WindowFixture {
protected:
    void open() {
        // N 1..6 with P 30, 10, 50, 20, 60, 40.
        const QString path = tableFile("survey.db", {0, 0, 0, 0, 0, 0});
        {
            ObservationTable t;
            t.Open(path.toStdString());
            const double ps[] = {30, 10, 50, 20, 60, 40};
            int i = 0;
            for (t.First(); !t.Eof(); t.Next()) {
                t.Edit();
                t.SetNumber(Field::P, ps[i++]);
                t.SetText(Field::COMMENT, "Проба; \"№" + std::to_string(i) + "\"");
                t.Post();
            }
            t.Close();
        }
        ASSERT_TRUE(form->Open_DB(path));
        form->resize(900, 500);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        QApplication::setActiveWindow(form.get());
    }
    TDBGridPro* grid() { return form->grid(PageKind::Observation); }
    QTableView* view() { return grid()->view(); }
    void clickRow(int row, Qt::KeyboardModifiers keys) {
        const QModelIndex cell = view()->model()->index(row, 0);
        QTest::mouseClick(view()->viewport(), Qt::LeftButton, keys, view()->visualRect(cell).center());
    }
    void clickTitle(const char* field) {
        QHeaderView* header = view()->horizontalHeader();
        const int column = grid()->Columns().ByFieldName(field);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    }
    QAction* menuItem(const QString& menu, const QString& item) {
        for (QAction* top : form->menuBar()->actions())
            if (top->text().remove('&') == menu)
                for (QAction* a : top->menu()->actions())
                    if (a->text().remove('&') == item)
                        return a;
        return nullptr;
    }
    // The grid's popup, opened over the viewport as a right click opens it.
    QMenu* openPopup() {
        const QPoint at = view()->visualRect(view()->model()->index(0, 0)).center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, view()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(view()->viewport(), &event);
        QMenu* popup = nullptr; // none when it does not open in time
        (void)QTest::qWaitFor(
            [&] {
                for (QMenu* m : form->findChildren<QMenu*>())
                    if (m->isVisible())
                        popup = m;
                return popup != nullptr;
            },
            2000);
        return popup;
    }
    static QAction* itemOf(QMenu* menu, const QString& item) {
        for (QAction* a : menu->actions())
            if (a->text().remove('&') == item)
                return a;
        return nullptr;
    }
    bool popupItemEnabled(const QString& item) {
        QMenu* popup = openPopup();
        QAction* a = popup ? itemOf(popup, item) : nullptr;
        const bool enabled = a && a->isEnabled();
        if (popup)
            popup->close();
        return enabled;
    }
    // An item of the popup clicked with the mouse.
    void pickFromPopup(const QString& item) {
        QMenu* popup = openPopup();
        ASSERT_NE(popup, nullptr);
        QAction* a = itemOf(popup, item);
        ASSERT_NE(a, nullptr) << item.toStdString();
        ASSERT_TRUE(a->isEnabled()) << item.toStdString();
        QTest::mouseClick(popup, Qt::LeftButton, {}, popup->actionGeometry(a).center());
    }
    std::string column(const std::string& file, int k) {
        return run_command(kSheets + "column '" + file + "' " + std::to_string(k) + " | tr '\\n' ' '");
    }
};

TEST_F(ExportCommandsTest, ThreeMarkedRowsOfASortedPageGoOutInItsOrderAndOnlyThey) {
    open();
    QAction* marked = menuItem("Сервис", "Экспорт выбранных строк…");
    QAction* whole = menuItem("Сервис", "Экспорт…");
    ASSERT_NE(marked, nullptr);
    ASSERT_NE(whole, nullptr);
    grid()->SelectRows({});
    EXPECT_FALSE(popupItemEnabled("Экспорт выбранных строк…")) << "no row marked";
    EXPECT_TRUE(whole->isEnabled());

    clickTitle("P"); // largest first: N 5, 3, 6, 1, 4, 2
    clickRow(0, Qt::NoModifier);
    clickRow(2, Qt::ControlModifier);
    clickRow(3, Qt::ControlModifier);
    ASSERT_EQ(grid()->SelectionCount(), 3);
    EXPECT_TRUE(popupItemEnabled("Экспорт выбранных строк…"));

    const std::string csv = dir.file("marked.csv"), xlsx = dir.file("marked.xlsx");
    dialogs.files = {QString::fromStdString(csv)};
    pickFromPopup("Экспорт выбранных строк…");
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_EQ(dialogs.asked[0], "save|Книга Excel 97–2003 (*.xls)|*.xls|Книга Excel (*.xlsx)|*.xlsx|Текст CSV "
                                "(*.csv)|*.csv");
    EXPECT_TRUE(dialogs.lastConfirmOverwrite);
    EXPECT_EQ(dialogs.asked[1],
              "information|Экспорт выбранных строк|Экспорт в файл marked.csv завершен успешно. Записей: 3.");
    EXPECT_EQ(column(csv, 0), "5 6 1 ");
    EXPECT_EQ(column(csv, 7), "Проба; \"№5\" Проба; \"№6\" Проба; \"№1\" ");

    dialogs.files = {QString::fromStdString(xlsx)};
    marked->trigger();
    EXPECT_EQ(column(xlsx, 0), "5 6 1 ");
    EXPECT_EQ(grid()->SelectionCount(), 3) << "the marks stay";

    // "Экспорт…" writes the whole page in the order shown; the sort stays.
    dialogs.files = {QString::fromStdString(dir.file("page.xls"))};
    whole->trigger();
    EXPECT_EQ(column(dir.file("page.xls"), 0), "5 3 6 1 4 2 ");
    EXPECT_EQ(form->table().IndexName(), "tab1") << "the sort stays";

    // A name of another type is refused with the types there are; nothing is written.
    dialogs.files = {QString::fromStdString(dir.file("page.ods"))};
    whole->trigger();
    EXPECT_EQ(dialogs.asked.back(), "error|Экспорт|Тип файла «" + QString::fromStdString(dir.file("page.ods")) +
                                        "» не известен: выберите .xls, .xlsx или .csv. Файл не записан.");
    EXPECT_FALSE(file_exists(dir.file("page.ods")));

    form->Close_DB();
    EXPECT_FALSE(marked->isEnabled());
    EXPECT_FALSE(whole->isEnabled());
}

// The real save dialog lists the three types; the type chosen with the keyboard gives a name
// typed without an extension its own.
TEST_F(ExportCommandsTest, TheSaveDialogGivesANameTheExtensionOfTheTypeChosen) {
    QtUserDialogs real;
    QStringList offered;
    QTimer::singleShot(0, [&] {
        QFileDialog* d = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                return d && d->isVisible();
            },
            3000));
        offered = d->nameFilters();
        auto* types = d->findChild<QComboBox*>("fileTypeCombo");
        ASSERT_NE(types, nullptr);
        types->setFocus();
        QTest::keyClick(types, Qt::Key_Down);
        QTest::keyClick(types, Qt::Key_Down);
        auto* name = d->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setFocus();
        QTest::keyClicks(name, "june");
        QTest::keyClick(name, Qt::Key_Return);
    });
    const QString chosen = real.saveFile(nullptr,
                                         QString::fromUtf8("Книга Excel 97–2003 (*.xls)|*.xls|Книга Excel "
                                                           "(*.xlsx)|*.xlsx|Текст CSV (*.csv)|*.csv"),
                                         ".xls", QString::fromStdString(dir.path()), true);
    EXPECT_EQ(offered,
              (QStringList{QString::fromUtf8("Книга Excel 97–2003 (*.xls)"), QString::fromUtf8("Книга Excel (*.xlsx)"),
                           QString::fromUtf8("Текст CSV (*.csv)")}));
    EXPECT_EQ(chosen, QString::fromStdString(dir.file("june.csv")));
}

} // namespace
