// Exported workbooks read back by readers this program did not write.

#include "export/SheetExport.h"
#include "export/vteExcel.h"
#include "support/TableFixture.h"
#include "table/Pages.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace ulen3;
using namespace ulen3::test;

namespace {

// Prints the sheet's name and every row as "|"-joined values; checks that olefile sees exactly
// one stream, "Workbook", whose bytes equal the stream file given.
const char* kRead = R"PY(
import sys, xlrd, olefile
ole = olefile.OleFileIO(sys.argv[1])
assert ole.listdir() == [['Workbook']], ole.listdir()
if len(sys.argv) > 2:
    assert ole.openstream('Workbook').read() == open(sys.argv[2], 'rb').read()
book = xlrd.open_workbook(sys.argv[1])
sheet = book.sheet_by_index(0)
print(book.nsheets, sheet.name)
for r in range(sheet.nrows):
    cells = []
    for c in range(sheet.ncols):
        cell = sheet.cell(r, c)
        cells.append(repr(cell.value) if cell.ctype == xlrd.XL_CELL_NUMBER else cell.value)
    print('|'.join(cells).replace('\n', '\\n'))
)PY";

class ExportInterop : public TableFixture {
protected:
    std::string readBack(const std::string& xls, const std::string& stream = "") {
        const std::string py = dir.file("read.py");
        write_file(py, std::vector<unsigned char>(kRead, kRead + std::strlen(kRead)));
        return run_command("/usr/bin/python3 " + py + " " + xls + " " + stream + " 2>&1");
    }
};

TEST_F(ExportInterop, XlrdOlefileAndSsconvertReadTheExport) {
    table.Open(createTable());
    for (int i = 0; i < 40; ++i) {
        table.Append();
        table.SetNumber(Field::N, i + 1);
        table.SetText(Field::DATE, "0" + std::to_string(1 + i % 9) + ".12.2026");
        table.SetText(Field::TIME, "10:00:0" + std::to_string(i % 10));
        table.SetInteger(Field::NB_TYPE, i == 5 ? 1 : 0); // one operative record stays out
        if (i % 3 != 0)
            table.SetNumber(Field::P, 0.25 * i);
        table.SetNumber(Field::R, -1.5);
        table.SetText(Field::T, i % 2 ? "" : "Ёмкость");
        table.SetText(Field::COMMENT, i == 7 ? "строка 1\r\nстрока 2" : i % 4 ? "" : "Плита №" + std::to_string(i));
        table.Post();
    }
    // A sort in force is dropped: the sheet has the file order.
    table.AddTag("tab1", "P", true);
    table.SetIndexName("tab1");
    const std::string xls = dir.file("june.xls");
    show_page_in_file_order(table, PageKind::Observation);
    exp2excel(table.Records(), xls);
    EXPECT_EQ(table.IndexName(), "");
    EXPECT_TRUE(table.TagNames().empty());

    // The stream alone, to compare with what olefile finds in the file.
    TvteXLSWorkbook book;
    show_page_in_file_order(table, PageKind::Observation);
    fill_export_sheet(table.Records(), book);
    const auto stream = TvteExcelWriter().WorkbookStream(book);
    write_file(dir.file("stream.bin"), std::vector<unsigned char>(stream.begin(), stream.end()));

    const std::string out = readBack(xls, dir.file("stream.bin"));
    std::vector<std::string> lines;
    for (std::size_t p = 0, q; (q = out.find('\n', p)) != std::string::npos; p = q + 1)
        lines.push_back(out.substr(p, q - p));
    ASSERT_EQ(lines.size(), 2u + 39) << out;
    EXPECT_EQ(lines[0], "1 ВЕСКОР");
    EXPECT_EQ(lines[1], "N|Дата|Время|Tн, °C|Tв, °С|Tв-Тн, °С|q, Вт/кв.м|Примечание");
    EXPECT_EQ(lines[2], "1.0|01.12.2026|10:00:00|0.0|-1.5|0.0|Ёмкость|Плита №0");
    EXPECT_EQ(lines[3], "2.0|02.12.2026|10:00:01|0.25|-1.5|0.0||");
    EXPECT_EQ(lines[7], "7.0|07.12.2026|10:00:06|0.0|-1.5|0.0|Ёмкость|");
    EXPECT_EQ(lines[8], "8.0|08.12.2026|10:00:07|1.75|-1.5|0.0||строка 1\\nстрока 2");
    EXPECT_EQ(lines[40], "40.0|04.12.2026|10:00:09|0.0|-1.5|0.0||");

    // gnumeric's converter reads the same values.
    const std::string csv = dir.file("june.csv");
    run_command("ssconvert " + xls + " " + csv + " >/dev/null 2>&1");
    const auto bytes = read_file(csv);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text.substr(0, text.find('\n')),
              "N,Дата,Время,\"Tн, °C\",\"Tв, °С\",\"Tв-Тн, °С\",\"q, Вт/кв.м\",Примечание");
    EXPECT_NE(text.find("\n8,08.12.2026,10:00:07,1.75,-1.5,0,,\"строка 1\nстрока 2\"\n"), std::string::npos) << text;
}

TEST_F(ExportInterop, HeaderOnlyExportLivesInTheMiniStream) {
    table.Open(createTable());
    const std::string xls = dir.file("empty.xls");
    show_page_in_file_order(table, PageKind::Operative);
    exp2excel(table.Records(), xls);
    EXPECT_LT(read_file(xls).size(), 8192u);
    EXPECT_EQ(readBack(xls), "1 ВЕСКОР\nN|Дата|Время|Tн, °C|Tв, °С|Tв-Тн, °С|q, Вт/кв.м|Примечание\n");
    const std::string csv = dir.file("empty.csv");
    int status = -1;
    run_command("ssconvert " + xls + " " + csv + " >/dev/null 2>&1", &status);
    EXPECT_EQ(status, 0);
    const auto bytes = read_file(csv);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "N,Дата,Время,\"Tн, °C\",\"Tв, °С\",\"Tв-Тн, °С\",\"q, Вт/кв.м\",Примечание\n");
}

TEST_F(ExportInterop, LargeExportNeedsDifatSectors) {
    table.Open(createTable());
    for (int i = 0; i < 65535; ++i) {
        table.Append();
        table.SetNumber(Field::N, i + 1);
        table.SetText(Field::DATE, "09.12.2026");
        table.SetText(Field::COMMENT, "Запись " + std::to_string(i + 1));
        table.SetInteger(Field::NB_TYPE, 0);
        table.Post();
    }
    const std::string xls = dir.file("big.xls");
    show_page_in_file_order(table, PageKind::Observation);
    exp2excel(table.Records(), xls);
    const auto bytes = read_file(xls);
    ASSERT_GT(bytes.size(), 7u << 20);
    // The header counts DIFAT sectors.
    EXPECT_GT(bytes[72] | bytes[73] << 8, 0);
    const std::string out =
        run_command("/usr/bin/python3 -c \"import xlrd,sys; s=xlrd.open_workbook(sys.argv[1]).sheet_by_index(0); "
                    "print(s.nrows, s.cell_value(65535, 0), s.cell_value(65535, 7))\" " +
                    xls + " 2>&1");
    EXPECT_EQ(out, "65536 65535.0 Запись 65535\n");
}

} // namespace
