// Column layouts: the stored text written and read on its own, and through the window's
// settings across closes and runs.

#include "settings/LayoutText.h"
#include "support/UserKey.h"
#include "support/WindowFixture.h"

#include <QDir>
#include <QFileInfo>

#include <QTest>

#include <gtest/gtest.h>

#include <random>

using namespace ulen3;
using namespace ulen3::test;

namespace {

TEST(LayoutText, ACentredYellowSortedSerialColumnByteForByte) {
    StoredColumn serial;
    serial.fieldName = "SERIAL";
    serial.titleState = "tsSortedUp";
    serial.width = 100;
    serial.color = 0x00FFFF;
    serial.alignment = "talCenter";
    serial.sortOrder = 0;
    StoredColumn n;
    n.fieldName = "N";
    n.width = 45;               // the default: not written
    n.alignment = "talDefault"; // the same
    EXPECT_EQ(write_layout({serial, n}), "object TUniDataStorage\r\n"
                                         "  Data = <\r\n"
                                         "    item\r\n"
                                         "      FieldName = 'SERIAL'\r\n"
                                         "      TitleState = tsSortedUp\r\n"
                                         "      Width = 100\r\n"
                                         "      Color = clYellow\r\n"
                                         "      Alignment = talCenter\r\n"
                                         "      SortOrder = 0\r\n"
                                         "    end\r\n"
                                         "    item\r\n"
                                         "      FieldName = 'N'\r\n"
                                         "    end>\r\n"
                                         "end\r\n");
    EXPECT_EQ(write_layout({}), "object TUniDataStorage\r\n  Data = <>\r\nend\r\n");
    EXPECT_TRUE(read_layout("object TUniDataStorage\n  Data = <>\nend\n").empty());
}

TEST(LayoutText, AnyLineEndsAndTextsWithQuotesAndCyrillic) {
    const std::vector<StoredColumn> columns =
        read_layout("object TUniDataStorage\r  Data = <\n    item\r\n      FieldName = 'N'\n      Width = 120\r"
                    "      Font.Name = 'Arial '#1050#1080'r''s'\n      Color = -16777201\n    end>\rend");
    ASSERT_EQ(columns.size(), 1u);
    EXPECT_EQ(columns[0].width, 120);
    EXPECT_EQ(*columns[0].fontName, "Arial Киr's");
    EXPECT_EQ(*columns[0].color, static_cast<int32_t>(0xFF00000F));
    EXPECT_NE(write_layout(columns).find("      Color = clBtnFace\r\n"), std::string::npos);
    EXPECT_NE(write_layout(columns).find("      Font.Name = 'Arial '#1050#1080'r''s'\r\n"), std::string::npos);
}

TEST(LayoutText, WhatIsNotALayoutSaysWhere) {
    for (const char* bad :
         {"", "hello", "object TUniDataStorage\r\n  Data = <\r\n    item\r\n      Width = wide\r\n    end>\r\nend\r\n",
          "object TUniDataStorage\r\n  Data = <\r\n    item\r\n      FieldName = 'N\r\n",
          "object TUniDataStorage\r\n  Data = <\r\n    item\r\n    end\r\n",
          "object TUniDataStorage\r\n  Data = <>\r\nend\r\nmore\r\n"}) {
        try {
            read_layout(bad);
            ADD_FAILURE() << "read: " << bad;
        } catch (const LayoutError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("строка ", 0), 0u) << e.what();
        }
    }
}

// Writer, parser and writer again give the same bytes for any set of columns.
TEST(LayoutText, WriteReadWriteKeepsEveryByte) {
    std::mt19937 random(11);
    const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const char* names[] = {"N", "DATE", "P", "R", "H", "COMMENT", "Поле"};
    for (int round = 0; round < 300; ++round) {
        std::vector<StoredColumn> columns(static_cast<size_t>(pick(10)));
        for (StoredColumn& c : columns) {
            c.fieldName = pick(8) ? names[pick(7)] : "";
            if (pick(2))
                c.width = pick(400) - 50;
            if (pick(3) == 0)
                c.titleState = pick(2) ? "tsSortedUp" : "tsSortedDown", c.sortOrder = pick(3);
            if (pick(2))
                c.color = static_cast<int32_t>(random());
            if (pick(2))
                c.alignment = pick(2) ? "talCenter" : "talRightJustify";
            if (pick(4) == 0)
                c.fontName = "Liberation Sans", c.fontHeight = -pick(20), c.fontStyle = "[fsBold]", c.fontCharset = 204;
            if (pick(5) == 0)
                c.optionsVisual = "[ovTitleWordWrap]", c.footerState = "fsSum", c.layoutLevel = 1, c.layoutIndex = 2;
        }
        const std::string once = write_layout(columns);
        EXPECT_EQ(write_layout(read_layout(once)), once);
    }
}

class LayoutWindowTest : public WindowFixture {
protected:
    QString value(const char* name) { return test::settings_value(QString::fromLatin1(name)); }
    std::string layoutText(const char* name) { return value(name).toStdString(); }
};

TEST_F(LayoutWindowTest, TheFirstRunCreatesTheStoreAndTheFirstDocumentWritesBothLayouts) {
    EXPECT_EQ(value("Default_dir"), QDir::currentPath());
    EXPECT_FALSE(settings.read("Table_1"));
    const QString path = tableFile("survey.db", {0, 0});
    ASSERT_TRUE(form->Open_DB(path));
    for (const char* name : {"Table_1", "Table_2"}) {
        const std::vector<StoredColumn> columns = read_layout(layoutText(name));
        ASSERT_EQ(columns.size(), 9u) << name;
        for (const StoredColumn& c : columns)
            EXPECT_EQ(c.width, columns.front().width) << name; // fitted: equal widths
    }
    EXPECT_EQ(read_layout(layoutText("Table_2"))[7].fieldName, "H");
}

TEST_F(LayoutWindowTest, AStoredLayoutAppliesByFieldAndSkipsUnknownFields) {
    const QString path = tableFile("survey.db", {0});
    ASSERT_TRUE(form->Open_DB(path)); // writes the layouts
    form->Close_DB();
    std::vector<TgpColumn> before = form->grid(PageKind::Observation)->Columns().list();
    settings.write("Table_1",
                   "object TUniDataStorage\r\n  Data = <\r\n    item\r\n      FieldName = 'ZZZ'\r\n"
                   "      Width = 300\r\n    end\r\n    item\r\n      FieldName = 'N'\r\n      Width = 120\r\n"
                   "    end>\r\nend\r\n");
    ASSERT_TRUE(form->Open_DB(path));
    const TgpColumns& after = form->grid(PageKind::Observation)->Columns();
    const int n = after.ByFieldName("N");
    EXPECT_EQ(after.Items(n).Width, 120);
    for (int i = 0; i < after.Count(); ++i) {
        if (i == n)
            continue;
        EXPECT_EQ(after.Items(i).Width, before[static_cast<size_t>(i)].Width) << i;
        EXPECT_EQ(after.Items(i).Color, before[static_cast<size_t>(i)].Color) << i;
        EXPECT_EQ(after.Items(i).Alignment, before[static_cast<size_t>(i)].Alignment) << i;
    }
    EXPECT_EQ(after.Items(n).Alignment, TgpAlignment::Center); // not named in the layout: kept
}

TEST_F(LayoutWindowTest, ColoursAndWidthsLiveAcrossCloseAndOpenMarksDoNot) {
    const QString path = tableFile("survey.db", {0, 0, 0});
    ASSERT_TRUE(form->Open_DB(path));
    TDBGridPro* grid = form->grid(PageKind::Observation);
    const int time = grid->Columns().ByFieldName("TIME");
    grid->view()->setCurrentIndex(grid->view()->model()->index(0, time));
    dialogs.colours = {QColor(255, 255, 0)};
    form->N17Click();
    grid->TitleClick(grid->Columns().ByFieldName("P"), false);
    grid->SetColumnWidth(2, 77);
    form->Close_DB();
    EXPECT_NE(value("Table_1").indexOf("Color = clYellow"), -1);
    EXPECT_NE(value("Table_1").indexOf("TitleState = tsSortedUp"), -1);
    // Another run: a new window over the same settings.
    form = std::make_unique<TForm1>(dialogs, settings, *download, *results);
    grid = form->grid(PageKind::Observation);
    EXPECT_EQ(grid->Columns().Items(time).Color, clNone);
    ASSERT_TRUE(form->Open_DB(path));
    EXPECT_EQ(grid->Columns().Items(time).Color, 0x00FFFFu);
    EXPECT_EQ(grid->Columns().Items(2).Width, 77);
    // The table opened in file order, so no column claims a sort.
    for (int i = 0; i < grid->Columns().Count(); ++i)
        EXPECT_EQ(grid->Columns().Items(i).TitleState, tsSortedNone) << i;
}

TEST_F(LayoutWindowTest, ADeletedValueIsWrittenAgainFromTheDesignColumns) {
    const QString path = tableFile("survey.db", {0});
    ASSERT_TRUE(form->Open_DB(path));
    form->Close_DB();
    QSettings s(QStringLiteral("Dornvale"), QStringLiteral("ULEN3"));
    s.remove(QStringLiteral("1.0/Table_2"));
    s.sync();
    EXPECT_FALSE(settings.read("Table_2"));
    ASSERT_TRUE(form->Open_DB(path));
    const std::vector<StoredColumn> columns = read_layout(layoutText("Table_2"));
    ASSERT_EQ(columns.size(), 9u);
    EXPECT_EQ(columns[4].fieldName, "P");
    EXPECT_EQ(columns[7].fieldName, "H");
}

TEST_F(LayoutWindowTest, TheFolderOfAnOpenedFileIsStoredWhenTheWindowCloses) {
    QDir(QString::fromStdString(dir.path())).mkdir("other");
    const QString path = tableFile("other/survey.db", {0});
    dialogs.files = {path};
    form->N3Click();
    EXPECT_NE(value("Default_dir"), QFileInfo(path).absolutePath());
    form->FormClose();
    EXPECT_EQ(value("Default_dir"), QFileInfo(path).absolutePath());
    EXPECT_FALSE(value("Window").isEmpty());
}

TEST_F(LayoutWindowTest, AnUnreadableValueGivesTheDesignLayoutAMessageAndIsWrittenAnew) {
    const QString path = tableFile("survey.db", {0});
    settings.write("Table_1", "object Something\r\n");
    ASSERT_TRUE(form->Open_DB(path));
    EXPECT_TRUE(form->document().isOpen());
    ASSERT_FALSE(dialogs.asked.empty());
    EXPECT_TRUE(dialogs.asked.back().startsWith("warning|ВЕСКОР|Вид столбцов «Table_1» в настройках не читается"))
        << dialogs.asked.back().toStdString();
    EXPECT_EQ(form->grid(PageKind::Observation)->Columns().Count(), 9);
    // The footers still show the page's figures under the design columns.
    const TgpColumns& shown = form->grid(PageKind::Observation)->Columns();
    EXPECT_EQ(shown.Items(shown.ByFieldName("N")).FooterText, "1");
    EXPECT_EQ(shown.Items(shown.ByFieldName("P")).FooterText, "0/0/0");
    form->Close_DB();
    EXPECT_EQ(read_layout(layoutText("Table_1")).size(), 9u);
    // The next open reads it without a word.
    dialogs.asked.clear();
    ASSERT_TRUE(form->Open_DB(path));
    EXPECT_TRUE(dialogs.asked.empty());
}

// A session that shows no table (nothing done, or an open that fails) writes no layout when
// the window closes: the colours and widths stored by an earlier session stay.
TEST_F(LayoutWindowTest, ASessionWithoutADocumentKeepsBothStoredLayouts) {
    const QString path = tableFile("survey.db", {0, 1});
    ASSERT_TRUE(form->Open_DB(path));
    form->grid(PageKind::Observation)->SetColumnColor(3, 0x00FFFF);
    form->grid(PageKind::Operative)->SetColumnColor(5, 0x00FF00);
    form->FormClose();
    const QString table1 = value("Table_1"), table2 = value("Table_2");
    ASSERT_NE(table1.indexOf("Color = clYellow"), -1);
    ASSERT_NE(table2.indexOf("Color = clLime"), -1);
    write_file(dir.file("broken.db"), std::vector<uint8_t>(100, 0x20));
    for (bool tryAnOpen : {false, true}) {
        form = std::make_unique<TForm1>(dialogs, settings, *download, *results);
        if (tryAnOpen) {
            EXPECT_FALSE(form->Open_DB(QString::fromStdString(dir.file("broken.db"))));
        }
        form->FormClose();
        EXPECT_EQ(value("Table_1"), table1) << tryAnOpen;
        EXPECT_EQ(value("Table_2"), table2) << tryAnOpen;
    }
    // A second close after the document's own writes nothing either.
    ASSERT_TRUE(form->Open_DB(path));
    form->Close_DB();
    settings.write("Table_1", table1 + "x");
    form->Close_DB();
    EXPECT_EQ(value("Table_1"), table1 + "x");
}

// The operative grid binds H twice ("Tв-Тн, °С" and "q, Вт/кв.м"): each column keeps its own
// colour and width across any number of closes and opens.
TEST_F(LayoutWindowTest, EachOfTheTwoHColumnsKeepsItsOwnLayout) {
    const QString path = tableFile("survey.db", {1, 1});
    ASSERT_TRUE(form->Open_DB(path));
    TDBGridPro* grid = form->grid(PageKind::Operative);
    const int diff = grid->Columns().ByFieldName("H"), q = grid->Columns().ByFieldName("H", 1);
    ASSERT_EQ(q, diff + 1);
    grid->SetColumnColor(q, 0x00FFFF);
    std::vector<int> widths;
    for (int i = 0; i < grid->Columns().Count(); ++i)
        widths.push_back(grid->Columns().Items(i).Width);
    for (int cycle = 0; cycle < 3; ++cycle) {
        form->Close_DB();
        ASSERT_TRUE(form->Open_DB(path));
        EXPECT_EQ(grid->Columns().Items(q).Color, 0x00FFFFu) << cycle;
        EXPECT_EQ(grid->Columns().Items(diff).Color, clNone) << cycle;
        for (int i = 0; i < grid->Columns().Count(); ++i)
            EXPECT_EQ(grid->Columns().Items(i).Width, widths[size_t(i)]) << cycle << " column " << i;
    }
}

// On a new account the first table shows one page; the other page's grid is hidden, yet its
// first layout is fitted at the width it will have.
TEST_F(LayoutWindowTest, TheHiddenPagesFirstLayoutIsFittedAtThePagesWidth) {
    form->setWindowState(Qt::WindowNoState);
    form->resize(900, 500);
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    ASSERT_TRUE(form->Open_DB(tableFile("survey.db", {0, 0})));
    const int pageWidth = form->grid(PageKind::Observation)->width();
    ASSERT_GT(pageWidth, 800);
    for (const char* name : {"Table_1", "Table_2"})
        for (const StoredColumn& c : read_layout(layoutText(name)))
            EXPECT_GE(*c.width * 9, pageWidth - 9) << name << " " << c.fieldName;
    // The operative page, when it comes, shows its dates whole.
    form->Close_DB();
    ASSERT_TRUE(form->Open_DB(tableFile("operative.db", {1, 1})));
    TDBGridPro* grid = form->grid(PageKind::Operative);
    const int date = grid->Columns().ByFieldName("DATE");
    EXPECT_GE(grid->view()->columnWidth(date), grid->view()->fontMetrics().horizontalAdvance("01.02.2026"));
}

// A default folder that no longer exists: the dialogs start in the current folder instead.
TEST_F(LayoutWindowTest, AVanishedDefaultFolderFallsBackToTheCurrentOne) {
    settings.write("Default_dir", QString::fromStdString(dir.file("gone")));
    form = std::make_unique<TForm1>(dialogs, settings, *download, *results);
    EXPECT_EQ(form->document().folder(), QDir::currentPath());
}

// A store that keeps nothing: said once, and the program goes on.
TEST_F(LayoutWindowTest, AStoreThatCannotBeWrittenIsSaidOnce) {
    struct Refusing : SettingsStore {
        std::optional<QString> read(const QString&) const override { return std::nullopt; }
        bool write(const QString&, const QString&) override { return false; }
        QString location() const override { return "/read-only/ULEN3.conf"; }
    } refusing;
    form = std::make_unique<TForm1>(dialogs, refusing, *download, *results);
    const QString path = tableFile("survey.db", {0});
    ASSERT_TRUE(form->Open_DB(path));
    form->FormClose();
    const auto told = std::count_if(dialogs.asked.begin(), dialogs.asked.end(),
                                    [](const QString& a) { return a.contains("/read-only/ULEN3.conf"); });
    EXPECT_EQ(told, 1);
}

} // namespace

namespace {

// Every input of the fuzzer's corpus, the crashes it found included: refused with LayoutError or
// read, and what is read writes and reads again to the same bytes.
TEST(LayoutText, TheFuzzCorpusIsReadSoundly) {
    const QDir corpus(QStringLiteral(ULEN3_TESTS_DIR "/../fuzz/corpus/fuzz_layout"));
    const QStringList files = corpus.entryList(QDir::Files);
    ASSERT_GE(files.size(), 3);
    for (const QString& name : files) {
        const auto bytes = read_file(corpus.filePath(name).toStdString());
        const std::string text(bytes.begin(), bytes.end());
        try {
            const std::string once = write_layout(read_layout(text));
            EXPECT_EQ(write_layout(read_layout(once)), once) << name.toStdString();
        } catch (const LayoutError&) {
        }
    }
}

} // namespace
