// The commands on a page's records, used through the window: title clicks, colours, fitting,
// delete, renumber, the footers and the export.

#include "support/WindowFixture.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include "print/ReportPreview.h"

#include <gtest/gtest.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

struct Row {
    double n;
    int kind;
    double p, r;
};

class CommandsTest : public WindowFixture {
protected:
    // A table of these records, opened in the window.
    QString open(const std::vector<Row>& rows, const std::string& name = "survey.db") {
        ObservationTable t;
        const std::string path = dir.file(name);
        t.CreateEmpty(path);
        t.Open(path);
        for (const Row& row : rows) {
            t.Append();
            t.SetNumber(Field::N, row.n);
            t.SetInteger(Field::NB_TYPE, row.kind);
            t.SetNumber(Field::P, row.p);
            t.SetNumber(Field::R, row.r);
            t.SetText(Field::COMMENT, "Плита " + std::to_string(static_cast<int>(row.n)));
            t.Post();
        }
        t.Close();
        EXPECT_TRUE(form->Open_DB(QString::fromStdString(path)));
        return QString::fromStdString(path);
    }
    // N of the records the page shows, in its order.
    std::vector<int> shown() {
        std::vector<int> out;
        const RecordView v = form->table().Records();
        for (int i = 0; i < v.Count(); ++i)
            out.push_back(static_cast<int>(v.Number(i, Field::N)));
        return out;
    }
    QString footer(TDBGridPro* grid, const char* field) {
        return grid->Columns().Items(grid->Columns().ByFieldName(field)).FooterText;
    }
    // The rows the user marked, as N, in any order.
    std::vector<int> marked(TDBGridPro* grid) {
        std::vector<int> out;
        for (int i = 0; i < grid->SelectionCount(); ++i)
            out.push_back(static_cast<int>(form->table().NumberAt(grid->SelectionRecord(i), Field::N)));
        std::sort(out.begin(), out.end());
        return out;
    }
};

const std::vector<Row> kFive = {{3, 0, 30, 3}, {1, 0, 10, 1}, {5, 0, 50, 5}, {2, 0, 20, 2}, {4, 0, 40, 4}};

TEST_F(CommandsTest, TitleClicksSortLargestFirstThenSmallestThenTheFileOrder) {
    const QString path = open(kFive);
    TDBGridPro* grid = form->grid(PageKind::Observation);
    grid->resize(800, 400);
    grid->show();
    QHeaderView* header = grid->view()->horizontalHeader();
    const int n = grid->Columns().ByFieldName("N");
    const QPoint title(header->sectionViewportPosition(n) + header->sectionSize(n) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
    EXPECT_EQ(shown(), (std::vector<int>{5, 4, 3, 2, 1}));
    EXPECT_EQ(form->table().IndexName(), "tab1");
    // The index file is a dBase IV one that an independent reader walks in the same order.
    const QString mdx = QFileInfo(path).absolutePath() + "/survey.mdx";
    ASSERT_TRUE(QFileInfo::exists(mdx));
    // It opens the file for writing, so it reads a copy; it walks record numbers in tag order.
    const std::string copy = dir.file("copy.mdx");
    write_file(copy, read_file(mdx.toStdString()));
    const std::string perl =
        "perl -MXBase::Index -e '$i = XBase::Index->new(\"" + copy +
        "\", tag => \"TAB1\") or die; $i->prepare_select; while (($k, $r) = $i->fetch) { print \"$r \" }'";
    EXPECT_EQ(run_command(perl + " 2>&1"), "3 5 1 4 2 "); // N 5, 4, 3, 2, 1
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
    EXPECT_EQ(shown(), (std::vector<int>{1, 2, 3, 4, 5}));
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::ControlModifier, title);
    EXPECT_EQ(shown(), (std::vector<int>{3, 1, 5, 2, 4}));
    EXPECT_EQ(form->table().IndexName(), "");
    EXPECT_FALSE(QFileInfo::exists(mdx));
    for (int i = 0; i < grid->Columns().Count(); ++i)
        EXPECT_EQ(grid->Columns().Items(i).TitleState, tsSortedNone);
}

TEST_F(CommandsTest, TheOperativePageSortsThroughItsOwnTag) {
    open({{2, 1, 5, 1}, {1, 1, 7, 2}, {9, 0, 1, 1}, {3, 1, 6, 3}});
    ASSERT_FALSE(form->observationPageShown());
    TDBGridPro* grid = form->grid(PageKind::Operative);
    const int p = grid->Columns().ByFieldName("P");
    grid->TitleClick(p, false);
    EXPECT_EQ(form->table().IndexName(), "tab2");
    EXPECT_EQ(shown(), (std::vector<int>{1, 3, 2})); // P 7, 6, 5
    grid->TitleClick(p, false);
    EXPECT_EQ(shown(), (std::vector<int>{2, 3, 1}));
    form->N33Click();
    EXPECT_EQ(shown(), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(grid->Columns().Items(p).TitleState, tsSortedNone);
    // With no sort in force it changes nothing.
    form->N33Click();
    EXPECT_EQ(shown(), (std::vector<int>{2, 1, 3}));
}

TEST_F(CommandsTest, MarksAndFootersNameTheSameRecordsAfterASort) {
    open(kFive);
    TDBGridPro* grid = form->grid(PageKind::Observation);
    EXPECT_EQ(footer(grid, "P"), "10/30/50");
    EXPECT_EQ(footer(grid, "R"), "1/3/5");
    EXPECT_EQ(footer(grid, "N"), "5");
    grid->SelectRows({0, 1}); // N 3 and 1
    EXPECT_EQ(footer(grid, "P"), "10/20/30");
    EXPECT_EQ(footer(grid, "N"), "5"); // the page's count, not the marks'
    grid->TitleClick(grid->Columns().ByFieldName("P"), false);
    EXPECT_EQ(shown(), (std::vector<int>{5, 4, 3, 2, 1}));
    EXPECT_EQ(marked(grid), (std::vector<int>{1, 3}));
    EXPECT_EQ(footer(grid, "P"), "10/20/30");
    grid->SelectRows({});
    EXPECT_EQ(footer(grid, "P"), "10/30/50");
}

TEST_F(CommandsTest, FootersOfEmptySingleAndNegativePages) {
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    open({});
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "P"), "0/0/0");
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "N"), "0");
    open({{1, 0, 12.34, -0.5}}, "one.db");
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "P"), "12,34/12,34/12,34");
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "R"), "-0,5/-0,5/-0,5");
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "N"), "1");
    open({{1, 0, 1, -1.2}, {2, 0, 2, -1.3}, {3, 0, 2, -1.25}}, "three.db");
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "P"), "1/1,7/2");
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "R"), "-1,3/-1,2/-1,2");
    // Two marked rows: R −1.2 and −1.3 give the mean −1.25, rounded upward to −1.2.
    form->grid(PageKind::Observation)->SelectRows({0, 1});
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "R"), "-1,3/-1,2/-1,2");
    EXPECT_EQ(footer(form->grid(PageKind::Observation), "P"), "1/1,5/2");
    QLocale::setDefault(QLocale::c());
}

// Every posted edit moves the footers at once, those of the marked rows included, and leaves
// the cursor where the user is; a save shows the same figures as the file gives.
TEST_F(CommandsTest, FootersFollowEveryPostedEdit) {
    open(kFive);
    TDBGridPro* grid = form->grid(PageKind::Observation);
    QAbstractItemModel* model = grid->view()->model();
    const int r = grid->Columns().ByFieldName("R");
    grid->view()->setCurrentIndex(model->index(2, r));
    const uint32_t current = form->table().RecordId();
    ASSERT_TRUE(model->setData(model->index(2, r), "1000"));
    EXPECT_EQ(footer(grid, "R"), "1/202/1000");
    EXPECT_EQ(form->table().RecordId(), current);
    grid->SelectRows({0, 2});
    EXPECT_EQ(footer(grid, "R"), "3/501.5/1000");
    ASSERT_TRUE(model->setData(model->index(0, r), "7"));
    EXPECT_EQ(footer(grid, "R"), "7/503.5/1000");
    // An emptied value counts as 0, as the page statistics count it.
    ASSERT_TRUE(model->setData(model->index(0, r), ""));
    EXPECT_EQ(footer(grid, "R"), "0/500/1000");
    grid->SelectRows({});
    form->Save_DB();
    ObservationTable t;
    t.OpenReadOnly(form->table().Path());
    t.SetFilter("NB_TYPE=0");
    EXPECT_EQ(footer(grid, "R").toStdString(), figures_text(page_statistics(t.Records()).r, "."));
}

// The export and the report's PDF never land on the open table or its index: the window keeps
// its table, and the error says which file and why.
TEST_F(CommandsTest, OutputsOfTheWindowNeverReplaceItsTable) {
    const QString path = open(kFive);
    const auto before = read_file(path.toStdString());
    const auto said = [&](const std::function<void()>& command) {
        dialogs.files = {path};
        try {
            command();
        } catch (const std::exception& e) {
            return QString::fromUtf8(e.what());
        }
        return QString();
    };
    EXPECT_EQ(said([&] { form->Excel1Click(); }),
              "Книга не записана: «" + path + "» — это таблица, из которой взяты записи; файл не изменён");
    ASSERT_TRUE(form->prepare_report());
    EXPECT_EQ(said([&] { form->saveReportAsPdf(form->report(PageKind::Observation).prepared); }),
              "Отчёт не записан: «" + path + "» — это таблица, из которой взяты записи; файл не изменён");
    EXPECT_EQ(read_file(path.toStdString()), before);
    // The window goes on with the same file.
    QAbstractItemModel* model = form->grid(PageKind::Observation)->view()->model();
    ASSERT_TRUE(
        model->setData(model->index(0, form->grid(PageKind::Observation)->Columns().ByFieldName("COMMENT")), "после"));
    form->Save_DB();
    EXPECT_EQ(form->grid(PageKind::Observation)
                  ->CellText(0, form->grid(PageKind::Observation)->Columns().ByFieldName("COMMENT")),
              "после");
}

// A value that rounds to zero in a "0.0" cell has no sign.
TEST_F(CommandsTest, SmallNegativeValuesShowAsZero) {
    open({{1, 0, -0.04, 0}, {2, 0, -0.06, 0}, {3, 0, -0.0, 0}});
    TDBGridPro* grid = form->grid(PageKind::Observation);
    const int p = grid->Columns().ByFieldName("P");
    EXPECT_EQ(grid->CellText(0, p), "0.0");
    EXPECT_EQ(grid->CellText(1, p), "-0.1");
    EXPECT_EQ(grid->CellText(2, p), "0.0");
}

TEST_F(CommandsTest, DeleteAsksThenRemovesExactlyTheMarkedRecords) {
    const QString path = open({{1, 0, 1, 1}, {2, 0, 2, 2}, {3, 0, 3, 3}, {4, 0, 4, 4}, {5, 0, 5, 5}, {6, 0, 6, 6}});
    TDBGridPro* grid = form->grid(PageKind::Observation);
    grid->TitleClick(grid->Columns().ByFieldName("N"), false); // 6 5 4 3 2 1
    grid->SelectRows({0, 2, 5});                               // N 6, 4, 1
    // No keeps everything.
    dialogs.answers = {false};
    form->N21Click();
    EXPECT_EQ(dialogs.asked.back(), "question|ВЕСКОР|Удалить выбранные записи: 3?");
    EXPECT_EQ(form->table().FileRecordCount(), 6u);
    EXPECT_EQ(marked(grid), (std::vector<int>{1, 4, 6}));
    form->grid(PageKind::Observation)->OnInitEdit(form->grid(PageKind::Observation)); // the user begins an edit
    dialogs.answers = {true};
    form->N21Click();
    EXPECT_EQ(form->table().FileRecordCount(), 3u);  // packed
    EXPECT_EQ(shown(), (std::vector<int>{2, 3, 5})); // unsorted
    EXPECT_EQ(form->table().IndexName(), "");
    EXPECT_EQ(grid->Columns().Items(grid->Columns().ByFieldName("N")).TitleState, tsSortedNone);
    EXPECT_EQ(footer(grid, "N"), "3");
    EXPECT_EQ(footer(grid, "P"), "2/3.3/5"); // the tests' locale writes a point
    EXPECT_FALSE(form->document().isChanged());
    EXPECT_EQ(grid->SelectionCount(), 0);
    // An independent reader finds the other records as they were.
    const std::string py =
        "/usr/bin/python3 -c \"import dbfread; print([(int(r['N']), r['COMMENT']) for r in dbfread.DBF('" +
        path.toStdString() + "', encoding='cp1251')])\"";
    EXPECT_EQ(run_command(py + " 2>&1"), "[(2, 'Плита 2'), (3, 'Плита 3'), (5, 'Плита 5')]\n");
}

TEST_F(CommandsTest, RenumberFollowsThePagesOrderAndVisitsEachRecordOnce) {
    open({{7, 0, 1, 3}, {8, 0, 1, 9}, {9, 1, 1, 5}, {10, 0, 1, 1}, {11, 0, 1, 5}});
    // The operative page shows the one record of kind 1; take the observation page.
    form->pageTabs()->setTabVisible(0, true);
    form->pageTabs()->setCurrentIndex(0);
    TDBGridPro* grid = form->grid(PageKind::Observation);
    grid->TitleClick(grid->Columns().ByFieldName("R"), false); // R descending: 9, 5, 3, 1
    form->N37Click();
    EXPECT_EQ(form->table().IndexName(), "tab1"); // the reopen keeps the sort
    EXPECT_EQ(shown(), (std::vector<int>{1, 2, 3, 4}));
    const RecordView v = form->table().Records();
    EXPECT_EQ(v.Number(0, Field::R), 9);
    // Sorted by N itself, largest first: each record gets one number, in the order shown, so
    // the one shown last (R 1) becomes 1 and the order turns round.
    grid->TitleClick(grid->Columns().ByFieldName("N"), false); // 4 3 2 1: R 1, 3, 5, 9
    form->N37Click();
    EXPECT_EQ(shown(), (std::vector<int>{4, 3, 2, 1}));
    std::vector<double> rs;
    for (int i = 0; i < form->table().Records().Count(); ++i)
        rs.push_back(form->table().Records().Number(i, Field::R));
    EXPECT_EQ(rs, (std::vector<double>{9, 5, 3, 1}));
    // The record of the other kind keeps its number.
    form->table().SetFilter("NB_TYPE=1");
    EXPECT_EQ(shown(), (std::vector<int>{9}));
}

TEST_F(CommandsTest, ColoursAndFitting) {
    open(kFive);
    TDBGridPro* grid = form->grid(PageKind::Observation);
    const int time = grid->Columns().ByFieldName("TIME");
    grid->view()->setCurrentIndex(grid->view()->model()->index(0, time));
    dialogs.colours = {std::nullopt, QColor(255, 255, 0)};
    form->N17Click(); // cancelled
    EXPECT_EQ(grid->Columns().Items(time).Color, clNone);
    form->N17Click();
    EXPECT_EQ(grid->Columns().Items(time).Color, 0x00FFFFu); // red in the lowest byte
    EXPECT_EQ(grid->view()->model()->data(grid->view()->model()->index(3, time), Qt::BackgroundRole).value<QColor>(),
              QColor(255, 255, 0));
    grid->view()->setCurrentIndex(grid->view()->model()->index(0, time + 1));
    form->N18Click();
    EXPECT_EQ(grid->Columns().Items(time).Color, 0x00FFFFu);
    form->N19Click();
    EXPECT_EQ(grid->Columns().Items(time).Color, clNone);

    // The colour dialog opens with the colour the column shows: white for none, the plain colour
    // as stored, a system colour (clBtnFace, as older layouts store it) as the palette shows it.
    grid->view()->setCurrentIndex(grid->view()->model()->index(0, time));
    dialogs.coloursOffered.clear();
    form->N17Click();
    grid->SetColumnColor(time, 0x00FFFFu);
    form->N17Click();
    grid->SetColumnColor(time, 0xFF00000Fu);
    form->N17Click();
    EXPECT_EQ(dialogs.coloursOffered,
              (std::vector<QColor>{QColor(Qt::white), QColor(255, 255, 0), grid->palette().color(QPalette::Button)}));
    EXPECT_EQ(grid->view()->model()->data(grid->view()->model()->index(3, time), Qt::BackgroundRole).value<QColor>(),
              grid->palette().color(QPalette::Button));

    grid->resize(905, 300);
    form->N23Click();
    for (int i = 0; i < grid->Columns().Count(); ++i)
        EXPECT_EQ(grid->Columns().Items(i).Width, 100) << i;
}

TEST_F(CommandsTest, ExportWritesThePagesRecordsInFileOrderAndClearsBothGridsMarks) {
    open({{2, 1, 5, 1}, {1, 0, 7, 2}, {3, 1, 6, 3}, {4, 1, 8, 4}});
    TDBGridPro* grid = form->grid(PageKind::Operative);
    grid->TitleClick(grid->Columns().ByFieldName("P"), false);
    form->grid(PageKind::Observation)->SetTitleState(0, tsSortedUp);
    EXPECT_EQ(shown(), (std::vector<int>{4, 3, 2}));
    const std::string xls = dir.file("june.xls");
    dialogs.files = {QString::fromStdString(xls)};
    const uint32_t current = form->table().RecordId();
    form->Excel1Click();
    EXPECT_EQ(dialogs.asked.back(), "information|Экспорт в Excel|Экспорт в файл june.xls завершен успешно.");
    for (TDBGridPro* g : {form->grid(PageKind::Observation), form->grid(PageKind::Operative)})
        for (int i = 0; i < g->Columns().Count(); ++i)
            EXPECT_EQ(g->Columns().Items(i).TitleState, tsSortedNone);
    EXPECT_EQ(form->table().RecordId(), current); // the user's record stays current
    const std::string py =
        "/usr/bin/python3 -c \"import xlrd; s = xlrd.open_workbook('" + xls +
        "').sheet_by_index(0); print(s.name, [int(s.cell_value(r, 0)) for r in range(1, s.nrows)])\"";
    EXPECT_EQ(run_command(py + " 2>&1"), "ВЕСКОР [2, 3, 4]\n");
    // A failure reaches the general error handler through the menu item, and no success is told.
    dialogs.files = {QString::fromStdString(dir.file("no-folder/x.xls"))};
    dialogs.asked.clear();
    for (QAction* a : form->findChildren<QAction*>())
        if (a->text().remove(QLatin1Char('&')) == "Экспорт в Excel")
            a->trigger();
    ASSERT_EQ(dialogs.asked.size(), 2u);
    EXPECT_TRUE(dialogs.asked[1].startsWith("error|ВЕСКОР|")) << dialogs.asked[1].toStdString();
}

// The N texts of the rows a prepared report prints, sheet after sheet.
std::vector<int> printed(const PreparedReport& report) {
    std::vector<int> out;
    for (int sheet = 0; sheet < report.sheetCount(); ++sheet) {
        const auto texts = report.texts(sheet);
        // Title (first sheet), 9 column titles, rows of 9 cells, the sheet number.
        const size_t first = sheet == 0 ? 10 : 9;
        for (size_t i = first + 1; i + 1 < texts.size(); i += 9)
            out.push_back(texts[i].text.toInt());
    }
    return out;
}

TEST_F(CommandsTest, ThePopupPrintPrintsTheVisiblePagesRecordsAsTheyAreNow) {
    open({{1, 0, 1, 1}, {2, 1, 5, 1}, {3, 1, 7, 1}, {4, 0, 2, 2}});
    ASSERT_FALSE(form->observationPageShown());
    form->N22Click(); // no printer here: the report is prepared, nothing is printed
    EXPECT_EQ(printed(form->report(PageKind::Operative).prepared), (std::vector<int>{2, 3}));
    EXPECT_TRUE(form->report(PageKind::Observation).prepared.empty());
    // A sort by a column prints the rows in that order.
    form->grid(PageKind::Operative)->TitleClick(form->grid(PageKind::Operative)->Columns().ByFieldName("P"), false);
    form->N22Click();
    EXPECT_EQ(printed(form->report(PageKind::Operative).prepared), (std::vector<int>{3, 2}));
}

// The preview is a real modal window: it opens on the first sheet of the page's report and
// saves the same sheets as PDF.
TEST_F(CommandsTest, ThePreviewShowsTheReportAndSavesItAsPdf) {
    std::vector<Row> rows;
    for (int i = 1; i <= 25; ++i)
        rows.push_back({
            double(i),
            0,
            10.0 + i,
            1,
        });
    open(rows);
    const std::string pdf = dir.file("report.pdf");
    dialogs.files = {QString::fromStdString(pdf)};
    QString where, title;
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [&, timer] {
        auto* preview = qobject_cast<ReportPreview*>(QApplication::activeModalWidget());
        if (!preview)
            return;
        title = preview->windowTitle();
        for (QLabel* l : preview->findChildren<QLabel*>())
            if (l->text().startsWith("Лист"))
                where = l->text();
        for (QPushButton* b : preview->findChildren<QPushButton*>())
            if (b->text() == "Сохранить в PDF…")
                b->click();
        for (QPushButton* b : preview->findChildren<QPushButton*>())
            if (b->text() == "Закрыть")
                b->click();
        timer->deleteLater();
    });
    timer->start(20);
    form->N8Click();
    EXPECT_EQ(title, "Предварительный просмотр");
    EXPECT_EQ(where, "Лист 1 из 3");
    EXPECT_EQ(printed(form->report(PageKind::Observation).prepared).size(), 25u);
    EXPECT_NE(run_command("pdfinfo '" + pdf + "' 2>&1").find("Pages:           3"), std::string::npos);
    // A zoom change moves the sheets under the same scroll value: the label follows.
    rows.clear();
    for (int i = 1; i <= 200; ++i)
        rows.push_back({double(i), 0, 10.0 + i, 1});
    open(rows, "long.db");
    ASSERT_TRUE(form->prepare_report());
    ReportPreview preview(form->report(PageKind::Observation).prepared, {}, form.get());
    preview.show();
    QApplication::processEvents();
    QScrollBar* scroll = preview.findChild<QAbstractScrollArea*>()->verticalScrollBar();
    scroll->setValue(scroll->maximum() / 10);
    const QLabel* label = nullptr;
    for (QLabel* l : preview.findChildren<QLabel*>())
        if (l->text().startsWith("Лист"))
            label = l;
    ASSERT_NE(label, nullptr);
    const int before = preview.currentSheet();
    for (int zoom : {50, -1, 200, 0}) {
        preview.setZoom(zoom);
        QApplication::processEvents();
        EXPECT_EQ(label->text(), QStringLiteral("Лист %1 из %2")
                                     .arg(preview.currentSheet() + 1)
                                     .arg(form->report(PageKind::Observation).prepared.sheetCount()))
            << zoom;
    }
    EXPECT_GT(before, 0);
}

} // namespace

namespace {

// A title click on COMMENT, `ulen3-cli dump --sort COMMENT --desc` and the report of the sorted page
// put the records in one order, the word sort: Latin before Cyrillic, hyphens last.
TEST_F(CommandsTest, ATitleClickDumpAndTheReportAgreeOnTheWordSort) {
    const std::vector<std::string> comments = {"Проба", "abc", "co-op", "coop", "Ёлка", "ель", "123", "!знак", "Zed"};
    const QString path = open({{1, 0, 1, 1},
                               {2, 0, 2, 1},
                               {3, 0, 3, 1},
                               {4, 0, 4, 1},
                               {5, 0, 5, 1},
                               {6, 0, 6, 1},
                               {7, 0, 7, 1},
                               {8, 0, 8, 1},
                               {9, 0, 9, 1}});
    ObservationTable& table = form->table();
    int i = 0;
    for (table.First(); !table.Eof(); table.Next()) {
        table.Edit();
        table.SetText(Field::COMMENT, comments[static_cast<size_t>(i++)]);
        table.Post();
    }
    form->Save_DB();
    TDBGridPro* grid = form->grid(PageKind::Observation);
    QHeaderView* header = grid->view()->horizontalHeader();
    const int column = grid->Columns().ByFieldName("COMMENT");
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(column) + 5, header->height() / 2));
    // The first click sorts largest first.
    const std::vector<int> wordSort = {1, 6, 5, 9, 4, 3, 2, 7, 8};
    EXPECT_EQ(shown(), wordSort);
    std::string dumped;
    for (const int n : wordSort)
        dumped += std::to_string(n) + " ";
    EXPECT_EQ(run_command(std::string(ULEN3_CLI) + " dump " + path.toStdString() +
                          " --sort COMMENT --desc | tail -n +2 | cut -d, -f1 | tr '\\n' ' '"),
              dumped);
    form->N22Click(); // no printer here: the report is prepared, nothing is printed
    EXPECT_EQ(printed(form->report(PageKind::Observation).prepared), wordSort);
}

} // namespace
