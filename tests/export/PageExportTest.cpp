// The export of chosen rows to .xls, .xlsx and CSV, read back by independent readers: openpyxl,
// xlrd, Python's csv module and LibreOffice. The rows are the ones chosen, in the page's order;
// the .xlsx sheet is the .xls sheet; CSV texts survive quotes, separators, line breaks and
// Cyrillic; the sheets' limits are said with the way out.

#include "export/PageExport.h"
#include "base/File.h"
#include "export/SheetExport.h"
#include "support/TableFixture.h"
#include "table/Pages.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <unistd.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

const std::string kSheets = std::string("/usr/bin/python3 ") + ULEN3_TESTS_DIR + "/sheets.py ";

// What sheets.py says of the files: "same" or the first difference.
std::string compared(const std::string& a, const std::string& b, const std::string& style = "") {
    return run_command(kSheets + "same '" + a + "' '" + b + "' " + style + " 2>&1");
}

// Column k of a file's data rows, one value per line.
std::string column(const std::string& file, int k, const std::string& style = "") {
    return run_command(kSheets + "column '" + file + "' " + std::to_string(k) + " " + style + " 2>&1");
}

TEST(RowList, NamesRowsOfThePageInItsOrderEachOnce) {
    EXPECT_EQ(parse_row_list("1,3,7-9", 10), (std::vector<int>{0, 2, 6, 7, 8}));
    EXPECT_EQ(parse_row_list("9,1,2-3,3", 10), (std::vector<int>{0, 1, 2, 8}));
    EXPECT_EQ(parse_row_list("10", 10), std::vector<int>{9});
    EXPECT_EQ(parse_row_list("4-4", 10), std::vector<int>{3});
    for (const char* wrong : {"0", "11", "3-1", "", "1,,2", "a", "1-", "-2", " 1", "1-11", "2.5", "1;2"}) {
        try {
            parse_row_list(wrong, 10);
            ADD_FAILURE() << "«" << wrong << "» taken";
        } catch (const ExportError& e) {
            EXPECT_NE(std::string(e.what()).find("записей на ней: 10"), std::string::npos) << e.what();
        }
    }
}

TEST(CsvStyle, FollowsTheDecimalSeparatorOfTheLocale) {
    EXPECT_EQ(csv_style_for(',').separator, ';');
    EXPECT_EQ(csv_style_for(',').decimal, ',');
    EXPECT_EQ(csv_style_for('.').separator, ',');
    EXPECT_EQ(csv_style_for('.').decimal, '.');
    EXPECT_EQ(export_type_of("a/Отчёт.XLSX"), ExportType::Xlsx);
    EXPECT_EQ(export_type_of("b.Csv"), ExportType::Csv);
    EXPECT_EQ(export_type_of("c.xls"), ExportType::Xls);
    EXPECT_FALSE(export_type_of("d.xlsm").has_value());
    EXPECT_FALSE(export_type_of("xlsx").has_value());
}

class PageExportTest : public TableFixture {
protected:
    void SetUp() override { table.Open(createTable()); }
    // The page of observations as the grid shows it, sorted by P descending.
    RecordView sortedByP() {
        table.AddTag("tab1", "P", true);
        table.SetIndexName("tab1");
        table.SetFilter(page_definition(PageKind::Observation).filter);
        return table.Records();
    }
};

// Rows marked in a page sorted by P descending come out in that order, and only they, in every
// type; a record of the other page that was marked is not exported.
TEST_F(PageExportTest, MarkedRowsOfASortedPageComeOutInItsOrderAndOnlyThey) {
    for (int i = 1; i <= 8; ++i)
        addReportRecord(i, 10.0 * ((i * 3) % 8), 0.5, 100, "", "", i == 8 ? 1 : 0);
    const RecordView page = sortedByP();
    // Records 2, 5, 7 (P 60, 70, 50) and 8 of the operative page.
    const std::vector<int> rows = rows_of_records(page, {7, 2, 8, 5});
    ASSERT_EQ(rows.size(), 3u);
    for (const char* name : {"marked.xls", "marked.xlsx", "marked.csv"}) {
        const std::string out = dir.file(name);
        export_rows(page, rows, out, *export_type_of(out));
        EXPECT_EQ(column(out, 0), "5\n2\n7\n") << name;
        EXPECT_EQ(column(out, 3), "70\n60\n50\n") << name;
    }
}

// Texts with quotes, both separators, CR LF, spaces around and Cyrillic, empty fields: Python's
// csv module and LibreOffice (told the separator and the locale) read the same values as the
// .xlsx sheet holds, in both styles.
TEST_F(PageExportTest, CsvTextsReadBackInPythonAndLibreOffice) {
    const std::vector<std::string> comments = {
        "сказал \"да\"", "a;b,c", "строка 1\r\nстрока 2", " слева", "справа ", "", "\"", "ёЁ №1 °С"};
    for (size_t i = 0; i < comments.size(); ++i)
        addReportRecord(static_cast<double>(i + 1), 12.25 + static_cast<double>(i), -0.125 * static_cast<double>(i),
                        1e6 + 0.5, i % 2 ? "12,5" : "", comments[i]);
    const RecordView page = table.Records();
    const std::string sheet = dir.file("page.xlsx");
    export_rows(page, all_rows(page), sheet, ExportType::Xlsx);
    for (const CsvStyle style : {csv_style_for(','), csv_style_for('.')}) {
        const std::string csv = dir.file(style.separator == ';' ? "ru.csv" : "en.csv");
        export_rows(page, all_rows(page), csv, ExportType::Csv, style);
        const std::string told = std::string("'") + style.separator + "' '" + style.decimal + "'";
        EXPECT_EQ(compared(csv, sheet, told), "same\n") << csv;
        EXPECT_EQ(compared(csv, "lo:" + csv, told), "same\n") << csv;
        const auto bytes = read_file(csv);
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
        EXPECT_EQ(text.substr(3, text.find('\n') - 2),
                  style.separator == ';' ? "N;Дата;Время;Tн, °C;Tв, °С;Tв-Тн, °С;q, Вт/кв.м;Примечание\r\n"
                                         : "N,Дата,Время,\"Tн, °C\",\"Tв, °С\",\"Tв-Тн, °С\",\"q, Вт/кв.м\","
                                           "Примечание\r\n");
        // Numbers as stored, in full, never with an exponent.
        EXPECT_NE(text.find(style.separator == ';' ? ";1000000,5;" : ",1000000.5,"), std::string::npos);
        EXPECT_NE(text.find(style.separator == ';' ? ";-0,875;" : ",-0.875,"), std::string::npos);
    }
}

// A comment of any length up to the whole field comes out whole, its padding gone: the padding is
// dropped eight bytes at a time.
TEST_F(PageExportTest, CsvTextsOfEveryLengthLoseOnlyTheirPadding) {
    const std::vector<size_t> lengths = {1, 7, 8, 9, 15, 16, 17, 91, 92, 93, 99, 100};
    for (const size_t length : lengths) {
        std::string comment;
        for (size_t i = 0; i < length; ++i)
            comment += i % 3 ? "ж" : "z";
        addReportRecord(1, 2, 3, 4, "", comment);
    }
    const std::string text = csv_text(table.Records(), all_rows(table.Records()), csv_style_for('.'));
    size_t line = text.find("\r\n") + 2;
    for (const size_t length : lengths) {
        const size_t end = text.find("\r\n", line);
        const std::string row = text.substr(line, end - line);
        const std::string comment = row.substr(row.rfind(',') + 1);
        EXPECT_EQ(comment.size(), length + (length - (length + 2) / 3)) << row; // ж is two bytes
        line = end + 2;
    }
}

// The .xlsx sheet holds what the .xls sheet holds: the sheet's name, the titles, numbers as
// numbers (an empty one as 0), texts as texts (CR LF as LF), the general format everywhere.
TEST_F(PageExportTest, TheXlsxSheetIsTheXlsSheet) {
    addReportRecord(1, 20.5, 0.25, 100, "7,25", "первая\r\nвторая");
    table.Append();
    table.SetNumber(Field::N, 2);
    table.SetInteger(Field::NB_TYPE, 0);
    table.SetText(Field::COMMENT, "без чисел, <тег> & \"кавычки\"");
    table.Post();
    addReportRecord(3, -99999.99, 99999999.99, 0, "", "");
    const RecordView page = table.Records();
    const std::string xls = dir.file("page.xls"), xlsx = dir.file("page.xlsx");
    export_rows(page, all_rows(page), xls, ExportType::Xls);
    // The window runs under the user's locale, whose decimal mark may be a comma.
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    ASSERT_NE(std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"), nullptr);
    export_rows(page, all_rows(page), xlsx, ExportType::Xlsx);
    std::setlocale(LC_NUMERIC, previous.c_str());
    EXPECT_EQ(compared(xls, xlsx), "same\n");
    EXPECT_EQ(column(xlsx, 4), "0.25\n0\n1e+08\n");
    const std::string parts = run_command("/usr/bin/python3 -c \"import zipfile,sys; z=zipfile.ZipFile(sys.argv[1]); "
                                          "print(z.testzip(), sorted({i.flag_bits & 6 for i in z.infolist()}))\" " +
                                          xlsx);
    EXPECT_EQ(parts, "None [6]\n") << "every part deflated at the fastest level, and whole";

    // With SOURCE_DATE_EPOCH the workbook is made at that time, and the same page gives the same
    // bytes whenever it is exported.
    setenv("SOURCE_DATE_EPOCH", "1765000000", 1);
    const std::string again = dir.file("again.xlsx");
    export_rows(page, all_rows(page), xlsx, ExportType::Xlsx);
    sleep(1);
    export_rows(page, all_rows(page), again, ExportType::Xlsx);
    unsetenv("SOURCE_DATE_EPOCH");
    EXPECT_EQ(read_file(xlsx), read_file(again));
    EXPECT_NE(run_command("unzip -p " + xlsx + " docProps/core.xml").find(">2025-12-06T05:46:40Z<"), std::string::npos);
}

TEST_F(PageExportTest, SheetLimitsAreSaidWithTheWayOut) {
    addReportRecord(1, 1, 1, 1);
    const RecordView page = table.Records();
    const std::string xls = dir.file("big.xls"), xlsx = dir.file("big.xlsx");
    try {
        export_rows(page, std::vector<int>(kMaxExportRecords + 1, 0), xls, ExportType::Xls);
        ADD_FAILURE() << "65,536 records in an .xls sheet";
    } catch (const ExportError& e) {
        EXPECT_STREQ(e.what(), "Записей для экспорта: 65536, а лист книги Excel 97–2003 вмещает не более 65535 "
                               "записей под строкой заголовка. Файл не записан. Для большего числа записей "
                               "используйте .xlsx: лист такой книги вмещает до 1048575 записей.");
    }
    try {
        export_rows(page, std::vector<int>(kMaxXlsxRecords + 1, 0), xlsx, ExportType::Xlsx);
        ADD_FAILURE() << "1,048,576 records in an .xlsx sheet";
    } catch (const ExportError& e) {
        EXPECT_STREQ(e.what(), "Записей для экспорта: 1048576, а лист книги Excel вмещает не более 1048575 "
                               "записей под строкой заголовка. Файл не записан.");
    }
    EXPECT_FALSE(file_exists(xls));
    EXPECT_FALSE(file_exists(xlsx));
    EXPECT_FALSE(temporariesLeft());
}

} // namespace
