// The workbook model: ranges, used area, names.

#include "export/vteExcelTypes.h"

#include <gtest/gtest.h>

using namespace ulen3;

namespace {

std::vector<std::string> order(const TvteXLSWorksheet& sheet) {
    std::vector<std::string> out;
    for (int i = 0; i < sheet.RangeCount(); ++i) {
        const TvteXLSRange& r = sheet.RangeAt(i);
        out.push_back(std::to_string(r.Left()) + "," + std::to_string(r.Top()) + "-" + std::to_string(r.Right()) + "," +
                      std::to_string(r.Bottom()));
    }
    return out;
}

TEST(WorkbookModel, SameRectangleGivesTheSameRange) {
    TvteXLSWorkbook book;
    TvteXLSWorksheet& sheet = book.AddSheet();
    TvteXLSRange& a = sheet.Range(1, 2, 1, 2);
    a.SetValue(1.5);
    TvteXLSRange& b = sheet.Range(1, 2, 1, 2);
    EXPECT_EQ(&a, &b);
    b.SetValue(std::string_view("второе"));
    EXPECT_EQ(a.Kind(), TvteValueKind::Text);
    EXPECT_EQ(a.Text(), "второе");
    EXPECT_EQ(sheet.RangeCount(), 1);
}

TEST(WorkbookModel, OverlapRemovesTheOldRangeButNotTheUsedArea) {
    TvteXLSWorkbook book;
    TvteXLSWorksheet& sheet = book.AddSheet();
    sheet.Range(0, 0, 0, 0).SetValue(1.0);
    TvteXLSRange& wide = sheet.Range(2, 5, 6, 9);
    wide.Font.Size = 14;
    sheet.Range(7, 5, 7, 5);
    // A 2×2 request over the corner of the wide range removes it with its value and style.
    TvteXLSRange& corner = sheet.Range(6, 9, 7, 10);
    EXPECT_EQ(corner.Font.Size, 10);
    EXPECT_EQ(order(sheet), (std::vector<std::string>{"0,0-0,0", "7,5-7,5", "6,9-7,10"}));
    EXPECT_EQ(sheet.UsedLeft(), 0);
    EXPECT_EQ(sheet.UsedTop(), 0);
    EXPECT_EQ(sheet.UsedRight(), 7);
    EXPECT_EQ(sheet.UsedBottom(), 10);
    // A tall range seen by a later request on a lower row is still found and removed.
    sheet.Range(0, 20, 0, 40);
    sheet.Range(0, 35, 0, 35);
    EXPECT_EQ(order(sheet).back(), "0,35-0,35");
    EXPECT_EQ(sheet.RangeCount(), 4);
}

TEST(WorkbookModel, RowByRowFillKeepsListOrder) {
    TvteXLSWorkbook book;
    TvteXLSWorksheet& sheet = book.AddSheet();
    EXPECT_TRUE(sheet.UsedEmpty());
    EXPECT_EQ(sheet.UsedLeft(), -1);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            sheet.Range(c, r, c, r);
    // Ranges created later on an earlier row go after that row's others, before later rows.
    sheet.Range(5, 1, 5, 1);
    EXPECT_EQ(order(sheet), (std::vector<std::string>{"0,0-0,0", "1,0-1,0", "2,0-2,0", "0,1-0,1", "1,1-1,1", "2,1-2,1",
                                                      "5,1-5,1", "0,2-0,2", "1,2-1,2", "2,2-2,2"}));
}

TEST(WorkbookModel, NamesAndTitles) {
    TvteXLSWorkbook book;
    EXPECT_EQ(book.Title(), "Morvail");
    TvteXLSWorksheet& first = book.AddSheet();
    EXPECT_EQ(first.Name(), "Sheet1");
    EXPECT_EQ(first.Index(), 0);
    first.SetName("SHEET2");
    EXPECT_EQ(book.AddSheet().Name(), "Sheet3");
    EXPECT_EQ(book.AddSheet().Name(), "Sheet4");
    // 40 characters keep 31, then lose blanks and control characters at both ends.
    first.SetName(" \tДлинное имя листа для проверки обрезки");
    EXPECT_EQ(first.Name(), "Длинное имя листа для проверк");
    first.SetName("                                        ");
    EXPECT_EQ(first.Name(), "");
    book.SetTitle(std::string(70, 'x'));
    EXPECT_EQ(book.Title(), std::string(66, 'x'));
}

TEST(WorkbookModel, ValuesAndDefaults) {
    TvteXLSWorkbook book;
    TvteXLSRange& r = book.AddSheet().Range(0, 0, 0, 0);
    EXPECT_EQ(r.Kind(), TvteValueKind::Empty);
    EXPECT_EQ(r.Font.Name(), "Arial");
    EXPECT_EQ(r.Font.Size, 10);
    EXPECT_EQ(r.Font.Charset, 1);
    EXPECT_EQ(r.VerticalAlignment, 2);
    EXPECT_EQ(r.NumberFormat(), "");
    r.SetValue(std::string_view("a\r\nb\rc\n"));
    EXPECT_EQ(r.Text(), "a\nb\rc\n");
    r.SetValue(2.75);
    EXPECT_EQ(r.Kind(), TvteValueKind::Number);
    EXPECT_EQ(r.Number(), 2.75);
    TvteXLSPageSetup setup;
    EXPECT_EQ(setup.PaperSize, 9);
    EXPECT_EQ(setup.TopMargin, 2.5);
}

} // namespace
