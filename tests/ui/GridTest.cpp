// The grid contract: columns, selection with bookmark values, title clicks, notifications,
// editing through the table.

#include "support/TableFixture.h"
#include "support/UiTestSupport.h"
#include "ui/grid/DBGridPro.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

TgpColumn column(const char* field, const char* caption, const char* format = "") {
    TgpColumn c;
    c.FieldName = field;
    c.Caption = QString::fromUtf8(caption);
    c.DisplayFormat = format;
    c.Alignment = TgpAlignment::Center;
    return c;
}

class GridTest : public TableFixture {
protected:
    TDBGridPro grid;
    int selectionChanges = 0;
    std::vector<int> titleChanges;
    int initEdits = 0;

    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        table.Open(createTable());
        for (int i = 0; i < 5; ++i) {
            table.Append();
            table.SetNumber(Field::N, i + 1);
            table.SetInteger(Field::NB_TYPE, 0);
            table.SetNumber(Field::P, 10 + i + 0.25);
            table.SetNumber(Field::R, 100 + i);
            table.SetNumber(Field::H, 1.125 * i);
            table.SetText(Field::COMMENT, "Плита " + std::to_string(i + 1));
            table.Post();
        }
        grid.SetColumns({column("N", "N"), column("P", "Tн, °C", "0.0"), column("R", "Tв, °С"),
                         column("H", "Tв-Тн, °С", "0.0"), column("H", "q, Вт/кв.м", "0.00"),
                         column("COMMENT", "Примечание")});
        grid.SetDataSource(&table);
        grid.SetBookmarkFields("P;R");
        grid.OnSelectionChange = [this](TDBGridPro*) { ++selectionChanges; };
        grid.OnTitleStateChange = [this](TDBGridPro*, int c) { titleChanges.push_back(c); };
        grid.OnInitEdit = [this](TDBGridPro*) { ++initEdits; };
        table.First();
    }
    void TearDown() override {
        grid.SetDataSource(nullptr);
        QLocale::setDefault(QLocale::c());
    }
};

TEST_F(GridTest, ModelShowsTheTableWithDisplayFormats) {
    QAbstractItemModelTester tester(grid.view()->model(), QAbstractItemModelTester::FailureReportingMode::Warning);
    EXPECT_EQ(grid.view()->model()->rowCount(), 5);
    EXPECT_EQ(grid.CellText(0, 0), "1");
    EXPECT_EQ(grid.CellText(0, 1), "10,3"); // 10.25 with one decimal, half away from zero
    EXPECT_EQ(grid.CellText(1, 2), "101");
    EXPECT_EQ(grid.CellText(3, 3), "3,4");
    EXPECT_EQ(grid.CellText(3, 4), "3,38");
    EXPECT_EQ(grid.CellText(4, 5), "Плита 5");
    // The field bound twice is found at its leftmost column.
    EXPECT_EQ(grid.Columns().ByFieldName("h"), 3);
    EXPECT_EQ(grid.Columns().ByFieldName("T"), -1);
}

TEST_F(GridTest, BookmarkValuesOfAMultiSelection) {
    grid.SetMultiSelect(true);
    grid.SelectRows({4, 0, 2});
    ASSERT_EQ(grid.SelectionCount(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(grid.SelectionValue(i, 0), 10 + 2 * i + 0.25);
        EXPECT_EQ(grid.SelectionValue(i, 1), 100 + 2 * i);
    }
    // Deleting them removes exactly those records and clears the selection.
    grid.DeleteSelectedRows();
    EXPECT_EQ(grid.SelectionCount(), 0);
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 4}));
    EXPECT_EQ(grid.view()->model()->rowCount(), 2);
}

TEST_F(GridTest, DeleteWithAnEmptySelectionChangesNothing) {
    grid.SetMultiSelect(true);
    grid.SelectRows({});
    selectionChanges = 0;
    grid.DeleteSelectedRows();
    EXPECT_EQ(selectionChanges, 0);
    EXPECT_EQ(table.VisibleCount(), 5);
}

TEST_F(GridTest, TitleClicksCycleTheOneSortMark) {
    grid.TitleClick(1, true); // Ctrl on a column without a mark: nothing
    EXPECT_TRUE(titleChanges.empty());
    EXPECT_EQ(grid.Columns().Items(1).TitleState, tsSortedNone);
    grid.TitleClick(1, false);
    EXPECT_EQ(grid.Columns().Items(1).TitleState, tsSortedUp);
    grid.TitleClick(1, false);
    EXPECT_EQ(grid.Columns().Items(1).TitleState, tsSortedDown);
    grid.TitleClick(1, false);
    EXPECT_EQ(grid.Columns().Items(1).TitleState, tsSortedUp);
    grid.TitleClick(2, false); // another column takes the mark
    EXPECT_EQ(grid.Columns().Items(1).TitleState, tsSortedNone);
    EXPECT_EQ(grid.Columns().Items(2).TitleState, tsSortedUp);
    grid.TitleClick(2, true);
    EXPECT_EQ(grid.Columns().Items(2).TitleState, tsSortedNone);
    EXPECT_EQ(titleChanges, (std::vector<int>{1, 1, 1, 2, 2}));
    // Setting a mark from the program raises nothing.
    grid.SetTitleState(0, tsSortedDown);
    EXPECT_EQ(titleChanges.size(), 5u);
}

TEST_F(GridTest, ProgramCursorMovesAreFollowedAndReported) {
    selectionChanges = 0;
    table.Next();
    table.Next();
    EXPECT_EQ(grid.view()->currentIndex().row(), 2);
    EXPECT_GE(selectionChanges, 2);
    table.Last();
    EXPECT_EQ(grid.view()->currentIndex().row(), 4);
    // The user's move moves the table's cursor.
    grid.view()->setCurrentIndex(grid.view()->model()->index(1, 0));
    EXPECT_EQ(table.Integer(Field::N), 2);
    // A filter that hides every record empties the grid.
    table.SetFilter("NB_TYPE=1");
    table.Refresh();
    EXPECT_EQ(grid.view()->model()->rowCount(), 0);
}

TEST_F(GridTest, CellEditsArePostedThroughTheTable) {
    QAbstractItemModel* model = grid.view()->model();
    EXPECT_TRUE(model->flags(model->index(0, 5)) & Qt::ItemIsEditable);
    grid.Columns().Items(1).ReadOnly = true;
    EXPECT_FALSE(model->flags(model->index(0, 1)) & Qt::ItemIsEditable);
    grid.view()->edit(model->index(2, 5));
    EXPECT_EQ(initEdits, 1);
    EXPECT_TRUE(model->setData(model->index(2, 5), QStringLiteral("Новая плита")));
    EXPECT_TRUE(model->setData(model->index(2, 2), QStringLiteral("7,5")));
    table.First();
    table.Next();
    table.Next();
    EXPECT_EQ(table.Text(Field::COMMENT), "Новая плита");
    EXPECT_EQ(table.Number(Field::R), 7.5);
    QString error;
    grid.OnError = [&](const QString& e) { error = e; };
    EXPECT_FALSE(model->setData(model->index(2, 2), QStringLiteral("abc")));
    EXPECT_EQ(error, "«abc» не является числом; запись не изменена");
    EXPECT_EQ(table.Number(Field::R), 7.5);
    // A character the code page cannot hold is refused, not written as '?'.
    EXPECT_FALSE(model->setData(model->index(2, 5), QStringLiteral("Плита \u6f22")));
    EXPECT_TRUE(error.startsWith("Знак «\u6f22»")) << error.toStdString();
    EXPECT_EQ(table.Text(Field::COMMENT), "Новая плита");
    EXPECT_TRUE(model->setData(model->index(2, 5), QStringLiteral("Цена 5 € — «ок»")));
    EXPECT_EQ(table.Text(Field::COMMENT), "Цена 5 € — «ок»");
}

} // namespace

namespace {

TEST_F(GridTest, EditorStartsFromTheStoredValueAndWritesOnlyWhatTheUserTyped) {
    table.First();
    table.Edit();
    table.SetNumber(Field::P, 12.345);
    table.SetNumber(Field::H, 1234567.125);
    table.Post();
    const auto before = read_file(table.Path());
    grid.resize(700, 300);
    grid.show();
    QTableView* view = grid.view();
    QAbstractItemModel* model = view->model();
    // "0.0" shows one decimal; the editor starts from all the file holds.
    EXPECT_EQ(grid.CellText(0, 1), "12,3");
    EXPECT_EQ(model->data(model->index(0, 1), Qt::EditRole).toString(), "12,345");
    EXPECT_EQ(model->data(model->index(0, 4), Qt::EditRole).toString(), "1234567,125");
    EXPECT_EQ(model->data(model->index(0, 0), Qt::EditRole).toString(), "1");
    grid.Columns().Items(1).ReadOnly = false;
    for (int column : {1, 4, 5}) {
        view->setCurrentIndex(model->index(0, column));
        view->edit(model->index(0, column));
        QLineEdit* editor = open_editor(view);
        ASSERT_NE(editor, nullptr);
        EXPECT_EQ(editor->text(), model->data(model->index(0, column), Qt::EditRole).toString());
        // Leaving the cell for another one ends the edit: nothing was typed, nothing is written.
        view->setCurrentIndex(model->index(1, column));
        EXPECT_EQ(open_editor(view), nullptr);
    }
    EXPECT_EQ(read_file(table.Path()), before);
    EXPECT_EQ(initEdits, 3);

    // What the user types is written when Enter ends the edit.
    view->setCurrentIndex(model->index(2, 2));
    view->edit(model->index(2, 2));
    QLineEdit* editor = open_editor(view);
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "7,25");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the delegate commits on the next turn of the loop
    EXPECT_EQ(table.NumberAt(table.ViewRecordAt(2), Field::R), 7.25);
    // A text editor takes no more than the field holds.
    view->setCurrentIndex(model->index(2, 5));
    view->edit(model->index(2, 5));
    ASSERT_NE(open_editor(view), nullptr);
    EXPECT_EQ(open_editor(view)->maxLength(), 100);
    grid.CancelPendingEdit();
}

TEST_F(GridTest, NumbersShowNoGroupSeparators) {
    table.First();
    table.Edit();
    table.SetNumber(Field::P, 1234.56);
    table.SetNumber(Field::R, 4294967.3);
    table.SetNumber(Field::H, -98765.4321);
    table.Post();
    for (QLocale locale :
         {QLocale(QLocale::Russian, QLocale::Russia), QLocale(QLocale::English, QLocale::UnitedStates)}) {
        QLocale::setDefault(locale);
        const QString sep = locale.decimalPoint();
        EXPECT_EQ(grid.CellText(0, 1), "1234" + sep + "6");
        EXPECT_EQ(grid.CellText(0, 2), "4294967" + sep + "3");
        EXPECT_EQ(grid.CellText(0, 3), "-98765" + sep + "4");
        EXPECT_EQ(grid.CellText(0, 4), "-98765" + sep + "43");
    }
}

// The marks belong to records: a new order, another filter or a reopen moves them with their
// records, and a delete removes exactly the records that are highlighted.
TEST_F(GridTest, MarksFollowTheirRecordsAcrossAReorder) {
    QAbstractItemModelTester tester(grid.view()->model(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    grid.SetMultiSelect(true);
    grid.resize(700, 300);
    grid.show();
    QTableView* view = grid.view();
    const auto highlighted = [&] {
        std::vector<int> numbers;
        for (const QModelIndex& row : view->selectionModel()->selectedRows())
            numbers.push_back(static_cast<int>(table.NumberAt(table.ViewRecordAt(row.row()), Field::N)));
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    };
    const auto marked = [&] {
        std::vector<int> numbers;
        for (int i = 0; i < grid.SelectionCount(); ++i) {
            numbers.push_back(static_cast<int>(table.NumberAt(grid.SelectionRecord(i), Field::N)));
            EXPECT_EQ(grid.SelectionValue(i, 0), table.NumberAt(grid.SelectionRecord(i), Field::P));
        }
        std::sort(numbers.begin(), numbers.end());
        return numbers;
    };
    grid.SelectRows({0, 1});
    table.GotoRecord(2);
    const std::vector<int> oneTwo{1, 2};
    // A sort through a tag: the same row count, another order.
    table.AddTag("tab1", "N", true);
    table.SetIndexName("tab1");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{5, 4, 3, 2, 1}));
    table.GotoRecord(2);
    EXPECT_EQ(view->currentIndex().row(), 3);
    EXPECT_EQ(highlighted(), oneTwo);
    EXPECT_EQ(marked(), oneTwo);
    // One more Ctrl-click adds that record.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      view->visualRect(view->model()->index(0, 0)).center());
    EXPECT_EQ(highlighted(), (std::vector<int>{1, 2, 5}));
    EXPECT_EQ(marked(), (std::vector<int>{1, 2, 5}));
    // Another filter and back, and a reopen of the same file as "Сохранить" does it.
    table.SetFilter("NB_TYPE=0");
    {
        const ObservationTable::UpdateBatch batch(table);
        const std::string path = table.Path();
        table.Close();
        table.Open(path);
        table.SetIndexName("tab1");
    }
    EXPECT_EQ(highlighted(), (std::vector<int>{1, 2, 5}));
    EXPECT_EQ(marked(), (std::vector<int>{1, 2, 5}));
    // A filter that hides a marked record drops it from the marks.
    table.Edit();
    EXPECT_NO_THROW(table.Cancel());
    table.GotoRecord(5);
    table.Edit();
    table.SetInteger(Field::NB_TYPE, 1);
    table.Post();
    EXPECT_EQ(marked(), oneTwo);
    grid.DeleteSelectedRows();
    EXPECT_EQ(grid.SelectionCount(), 0);
    EXPECT_TRUE(view->selectionModel()->selectedRows().empty());
    EXPECT_EQ(viewNumbers(), (std::vector<int>{4, 3}));
    EXPECT_EQ(view->model()->rowCount(), 2);
}

} // namespace

namespace {

// A border the user drags keeps its width as the column's Width; fitting afterwards, at a
// resize or a title click, keeps the user's proportions.
TEST_F(GridTest, ADraggedWidthIsKeptThroughLaterFits) {
    grid.SetAutoColumnFit(true);
    grid.resize(700, 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    QHeaderView* header = grid.view()->horizontalHeader();
    const auto total = [&] {
        int sum = 0;
        for (int i = 0; i < header->count(); ++i)
            sum += header->sectionSize(i);
        return sum;
    };
    const int fitted = total();
    EXPECT_EQ(fitted, grid.view()->viewport()->width());
    const int before = header->sectionSize(2);
    const int border = header->sectionViewportPosition(2) + before - 1;
    const int y = header->height() / 2;
    QTest::mousePress(header->viewport(), Qt::LeftButton, {}, QPoint(border, y));
    for (int dx = 10; dx <= 80; dx += 10)
        QTest::mouseMove(header->viewport(), QPoint(border + dx, y));
    QTest::mouseRelease(header->viewport(), Qt::LeftButton, {}, QPoint(border + 80, y));
    QCoreApplication::processEvents();
    // The columns fill the width again, the dragged one wider than before.
    EXPECT_EQ(total(), fitted);
    const double share = double(header->sectionSize(2)) / total();
    EXPECT_GT(header->sectionSize(2), before + 40);
    EXPECT_EQ(grid.Columns().Items(2).Width > 0, true);
    grid.resize(900, 300);
    QCoreApplication::processEvents();
    EXPECT_NEAR(double(header->sectionSize(2)) / total(), share, 0.01);
    grid.TitleClick(0, false);
    EXPECT_NEAR(double(header->sectionSize(2)) / total(), share, 0.01);
}

} // namespace
