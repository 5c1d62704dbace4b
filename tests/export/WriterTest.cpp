// The BIFF8 workbook stream, read back record by record.

#include "export/CompoundFile.h"
#include "export/SheetExport.h"
#include "export/vteExcel.h"
#include "support/TableFixture.h"
#include "support/TempDir.h"
#include "table/Pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

struct Record {
    std::size_t pos; // of the record header in the stream
    unsigned id;
    std::vector<std::uint8_t> data;
    unsigned u16(std::size_t at) const { return data[at] | data[at + 1] << 8; }
    std::uint32_t u32(std::size_t at) const { return u16(at) | std::uint32_t(u16(at + 2)) << 16; }
};

std::vector<Record> records(const std::vector<std::uint8_t>& s) {
    std::vector<Record> out;
    for (std::size_t p = 0; p + 4 <= s.size();) {
        const unsigned id = s[p] | s[p + 1] << 8;
        const std::size_t len = s[p + 2] | s[p + 3] << 8;
        out.push_back({p, id, std::vector<std::uint8_t>(s.begin() + p + 4, s.begin() + p + 4 + len)});
        p += 4 + len;
    }
    return out;
}

std::vector<Record> only(const std::vector<Record>& all, unsigned id) {
    std::vector<Record> out;
    for (const Record& r : all)
        if (r.id == id)
            out.push_back(r);
    return out;
}

std::u16string utf16(const std::vector<std::uint8_t>& d, std::size_t at, std::size_t units) {
    std::u16string s;
    for (std::size_t i = 0; i < units; ++i)
        s += static_cast<char16_t>(d[at + 2 * i] | d[at + 2 * i + 1] << 8);
    return s;
}

// The strings of the SST with its CONTINUE records, following the format's rules.
std::vector<std::u16string> sst_strings(const std::vector<Record>& all, std::uint32_t* total = nullptr,
                                        std::uint32_t* unique = nullptr) {
    std::vector<std::vector<std::uint8_t>> pieces;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].id != 0x00FC)
            continue;
        pieces.push_back(all[i].data);
        for (std::size_t j = i + 1; j < all.size() && all[j].id == 0x003C; ++j)
            pieces.push_back(all[j].data);
        break;
    }
    std::vector<std::u16string> out;
    if (pieces.empty())
        return out;
    const Record head{0, 0, pieces[0]};
    if (total)
        *total = head.u32(0);
    if (unique)
        *unique = head.u32(4);
    std::size_t piece = 0, at = 8;
    for (std::uint32_t n = 0; n < head.u32(4); ++n) {
        if (at >= pieces[piece].size())
            ++piece, at = 0;
        const auto& d = pieces[piece];
        std::size_t units = d[at] | d[at + 1] << 8;
        EXPECT_EQ(d[at + 2], 1) << "string " << n;
        at += 3;
        std::u16string s;
        while (units > 0) {
            if (at >= pieces[piece].size()) {
                ++piece;
                at = 0;
                EXPECT_EQ(pieces[piece][0], 1) << "continued string " << n;
                at = 1;
            }
            const std::size_t take = std::min(units, (pieces[piece].size() - at) / 2);
            s += utf16(pieces[piece], at, take);
            at += 2 * take;
            units -= take;
        }
        out.push_back(s);
    }
    return out;
}

class WriterTest : public TableFixture {
protected:
    TvteXLSWorkbook book;
    TvteExcelWriter writer;

    std::vector<Record> written() { return records(writer.WorkbookStream(book)); }

    // A table with the given comments on observation records.
    void tableWith(const std::vector<std::string>& comments) {
        table.Open(createTable());
        for (std::size_t i = 0; i < comments.size(); ++i) {
            table.Append();
            table.SetNumber(Field::N, static_cast<double>(i + 1));
            table.SetText(Field::DATE, "09.12.2026");
            table.SetText(Field::TIME, "10:00:00");
            table.SetInteger(Field::NB_TYPE, 0);
            table.SetNumber(Field::P, 1.5 * static_cast<double>(i));
            table.SetText(Field::COMMENT, comments[i]);
            table.Post();
        }
    }
};

TEST_F(WriterTest, ExportFileHasTheFixedTables) {
    tableWith({"Плита 1", "", "Плита 1"});
    show_page_in_file_order(table, PageKind::Observation);
    fill_export_sheet(table.Records(), book);
    const auto all = written();

    const auto fonts = only(all, 0x0031);
    ASSERT_EQ(fonts.size(), 5u);
    for (const Record& f : fonts) {
        EXPECT_EQ(f.u16(0), 200u);
        EXPECT_EQ(f.u16(4), 8u);   // colour index: black
        EXPECT_EQ(f.u16(6), 100u); // weight
        EXPECT_EQ(utf16(f.data, 16, f.data[14]), u"Arial");
    }
    EXPECT_EQ(only(all, 0x041E).size(), 8u);
    const auto xfs = only(all, 0x00E0);
    ASSERT_EQ(xfs.size(), 22u);
    const std::vector<std::uint8_t> xf21 = {0x05, 0x00, 0x00, 0x00, 0x01, 0x00, 0x20, 0x00, 0x00, 0x7C,
                                            0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x04};
    EXPECT_EQ(xfs[21].data, xf21);
    EXPECT_EQ(only(all, 0x0293).size(), 6u);
    EXPECT_TRUE(only(all, 0x0092).empty());

    const auto bofs = only(all, 0x0809);
    ASSERT_EQ(bofs.size(), 2u);
    const auto sheets = only(all, 0x0085);
    ASSERT_EQ(sheets.size(), 1u);
    EXPECT_EQ(sheets[0].u32(0), bofs[1].pos);
    EXPECT_EQ(utf16(sheets[0].data, 8, sheets[0].data[6]), u"ВЕСКОР");

    std::uint32_t total = 0, unique = 0;
    const auto strings = sst_strings(all, &total, &unique);
    // 8 headers, then per record DATE and TIME, and the comments that are not empty.
    EXPECT_EQ(total, 8u + 3 * 2 + 2);
    EXPECT_EQ(unique, total);
    EXPECT_EQ(strings[3], u"T\u043d, \u00b0C");
    EXPECT_EQ(strings[5], u"T\u0432-\u0422\u043d, \u00b0\u0421");
    EXPECT_EQ(strings[6], u"q, \u0412\u0442/\u043a\u0432.\u043c");
    EXPECT_EQ(only(all, 0x00FF).size(), 1u);
    EXPECT_EQ(all.back().id, 0x000Au);

    // Rows 0 to 3, each with its cells in column order, every cell on XF 21.
    std::vector<std::string> cells;
    for (const Record& r : all) {
        if (r.id == 0x0203 || r.id == 0x00FD || r.id == 0x0201) {
            EXPECT_EQ(r.u16(4), 21u);
            cells.push_back(std::to_string(r.u16(0)) + ":" + std::to_string(r.u16(2)) +
                            (r.id == 0x0203   ? "n"
                             : r.id == 0x00FD ? "s"
                                              : "b"));
        }
    }
    ASSERT_EQ(cells.size(), 32u);
    EXPECT_EQ(cells[0], "0:0s");
    EXPECT_EQ(cells[8], "1:0n");
    EXPECT_EQ(cells[14], "1:6b"); // T is empty: a blank cell, no string
    EXPECT_EQ(cells[23], "2:7b"); // the empty comment
    EXPECT_EQ(cells[31], "3:7s");
    // Two equal comments are two entries.
    EXPECT_EQ(strings[10], u"Плита 1");
    EXPECT_EQ(strings[15], u"Плита 1");
}

TEST_F(WriterTest, RowBlocksOf32WithIndexAndDbcell) {
    for (int rows : {32, 33}) {
        TvteXLSWorkbook b;
        TvteXLSWorksheet& sheet = b.AddSheet();
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < 3; ++c)
                sheet.Range(c, r, c, r).SetValue(double(r * 10 + c));
        const auto stream = writer.WorkbookStream(b);
        const auto all = records(stream);
        const auto dbcells = only(all, 0x00D7);
        ASSERT_EQ(dbcells.size(), rows == 32 ? 1u : 2u);
        const Record index = only(all, 0x020B).at(0);
        EXPECT_EQ(index.u32(4), 0u);
        EXPECT_EQ(index.u32(8), std::uint32_t(rows));
        ASSERT_EQ(index.data.size(), 16 + 4 * dbcells.size());
        for (std::size_t k = 0; k < dbcells.size(); ++k) {
            EXPECT_EQ(index.u32(16 + 4 * k), dbcells[k].pos);
            // The DBCELL points back at its block's first ROW record.
            const std::size_t firstRow = dbcells[k].pos - dbcells[k].u32(0);
            EXPECT_EQ(stream[firstRow] | stream[firstRow + 1] << 8, 0x0208);
            EXPECT_EQ(stream[firstRow + 4] | stream[firstRow + 5] << 8, int(32 * k));
            // The first row offset leads from the end of the first ROW to the first cell.
            const std::size_t firstCell = firstRow + 20 + dbcells[k].u16(4);
            EXPECT_EQ(stream[firstCell] | stream[firstCell + 1] << 8, 0x0203);
            // Three NUMBER records of 18 bytes per row.
            if (dbcells[k].data.size() > 6) {
                EXPECT_EQ(dbcells[k].u16(6), 3u * 18);
            }
        }
    }
}

TEST_F(WriterTest, LongTextCrossesIntoAContinueRecord) {
    TvteXLSWorksheet& sheet = book.AddSheet();
    std::string lead(4000, 'a');
    std::string crossing;
    for (int i = 0; i < 300; ++i)
        crossing += "Ж";
    sheet.Range(0, 0, 0, 0).SetValue(std::string_view(lead));
    sheet.Range(0, 1, 0, 1).SetValue(std::string_view(crossing));
    sheet.Range(0, 2, 0, 2).SetValue(std::string_view("после"));
    const auto all = written();
    std::size_t sst = 0;
    while (all[sst].id != 0x00FC)
        ++sst;
    EXPECT_EQ(all[sst].data.size() + 4, 8228u);
    ASSERT_EQ(all[sst + 1].id, 0x003Cu);
    EXPECT_EQ(all[sst + 1].data[0], 1);
    std::uint32_t total = 0, unique = 0;
    const auto strings = sst_strings(all, &total, &unique);
    EXPECT_EQ(total, 3u);
    EXPECT_EQ(unique, 3u);
    ASSERT_EQ(strings.size(), 3u);
    EXPECT_EQ(strings[0], std::u16string(4000, u'a'));
    EXPECT_EQ(strings[1], std::u16string(300, u'Ж'));
    EXPECT_EQ(strings[2], u"после");
}

TEST_F(WriterTest, MergedRangeWritesValueBlanksAndArea) {
    TvteXLSWorksheet& sheet = book.AddSheet();
    sheet.Range(0, 0, 1, 1).SetValue(7.0);
    const auto all = written();
    const auto xfs = only(all, 0x00E0);
    const Record number = only(all, 0x0203).at(0);
    EXPECT_EQ(number.u16(0), 0u);
    EXPECT_EQ(number.u16(2), 0u);
    const unsigned xf = number.u16(4);
    EXPECT_EQ(xfs.at(xf).u16(8), 0x7C20u);
    const Record blank = only(all, 0x0201).at(0);
    EXPECT_EQ(blank.u16(0), 0u);
    EXPECT_EQ(blank.u16(2), 1u);
    EXPECT_EQ(blank.u16(4), xf);
    const Record mul = only(all, 0x00BE).at(0);
    EXPECT_EQ(mul.data.size(), 10u);
    EXPECT_EQ(mul.u16(0), 1u);
    EXPECT_EQ(mul.u16(2), 0u);
    EXPECT_EQ(mul.u16(4), xf);
    EXPECT_EQ(mul.u16(6), xf);
    EXPECT_EQ(mul.u16(8), 1u);
    const Record merged = only(all, 0x00E5).at(0);
    EXPECT_EQ(merged.data, (std::vector<std::uint8_t>{1, 0, 0, 0, 1, 0, 0, 0, 1, 0}));
}

TEST_F(WriterTest, ColoursOutsideThePaletteAndItsExhaustion) {
    TvteXLSWorksheet& sheet = book.AddSheet();
    // 33 colours that the default palette lacks: 32 take the non-basic slots, the last gets 8.
    for (int i = 0; i < 33; ++i)
        sheet.Range(i, 0, i, 0).Font.Color = 0x010101u * static_cast<unsigned>(i + 1) + 0x000300u;
    const auto all = written();
    const auto fonts = only(all, 0x0031);
    ASSERT_EQ(fonts.size(), 4u + 33);
    EXPECT_EQ(fonts[4].u16(4), 24u); // slot 16
    EXPECT_EQ(fonts[36].u16(4), 8u);
    const auto palette = only(all, 0x0092);
    ASSERT_EQ(palette.size(), 1u);
    EXPECT_EQ(palette[0].u16(0), 56u);
    EXPECT_EQ(palette[0].data[2 + 4 * 16], 0x01); // red of the first new colour
    EXPECT_EQ(palette[0].data[2 + 4 * 16 + 1], 0x04);
    // Basic colours keep their slots: white is still at slot 1.
    EXPECT_EQ(palette[0].data[2 + 4], 0xFF);
}

TEST_F(WriterTest, WindowTextThatIsNotBlackMovesTheDefaultFonts) {
    book.AddSheet().Range(0, 0, 0, 0).SetValue(1.0);
    writer.SetSystemColors([](std::uint32_t) { return TvteColor(0x123456); });
    const auto all = written();
    const auto fonts = only(all, 0x0031);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(fonts[i].u16(4), 24u);
    EXPECT_EQ(fonts[4].u16(4), 8u); // the cell's own black font
    EXPECT_EQ(only(all, 0x0092).size(), 1u);
}

TEST_F(WriterTest, SavingTwiceGivesIdenticalFiles) {
    TvteXLSWorksheet& sheet = book.AddSheet();
    sheet.Range(0, 0, 0, 0).Font.Color = 0x00ABCDEF;
    sheet.Range(1, 0, 1, 0).SetValue(std::string_view("текст"));
    writer.Save(book, dir.file("a.xls"));
    writer.Save(book, dir.file("b.xls"));
    EXPECT_EQ(read_file(dir.file("a.xls")), read_file(dir.file("b.xls")));
    // Saving over an existing file replaces it.
    sheet.Range(2, 0, 2, 0).SetValue(3.0);
    writer.Save(book, dir.file("a.xls"));
    EXPECT_NE(read_file(dir.file("a.xls")), read_file(dir.file("b.xls")));
}

TEST_F(WriterTest, FailuresKeepTheProgramsTextsAndTheOldFile) {
    book.AddSheet().Range(0, 0, 0, 0).SetValue(1.0);
    const auto failure = [&](const std::string& path) -> std::string {
        try {
            writer.Save(book, path);
        } catch (const CompoundFileError& e) {
            return e.what();
        }
        return "saved";
    };
    // The program's code, then what it means in words and what was kept.
    EXPECT_EQ(failure(dir.file("no-folder/out.xls")),
              "StgCreateDocFile error -2147287037: нет папки «" + dir.file("no-folder") + "»; книга не записана");
    // An unwritable folder: the system's own for the superuser, a read-only one otherwise.
    if (::geteuid() != 0) {
        ::mkdir(dir.file("ro").c_str(), 0500);
        EXPECT_EQ(failure(dir.file("ro/out.xls")), "StgCreateDocFile error -2147287035: нет прав на запись в «" +
                                                       dir.file("ro/out.xls") + "» или в папку «" + dir.file("ro") +
                                                       "»; книга не записана");
    } else if (::access("/sys/kernel", F_OK) == 0) {
        EXPECT_EQ(failure("/sys/ulen3-test.xls"), "StgCreateDocFile error -2147287035: нет прав на запись в "
                                                  "«/sys/ulen3-test.xls» или в папку «/sys»; книга не записана");
    }
    // Another program holds the file for writing: refused, the file keeps its bytes.
    const std::string held = dir.file("held.xls");
    write_file(held, {1, 2, 3});
    const int fd = ::open(held.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);
    EXPECT_EQ(failure(held), "StgCreateDocFile error -2147287008: файл «" + held +
                                 "» открыт другой программой; книга не записана, прежний файл не изменён");
    const std::string longName = dir.file(std::string(300, 'x') + ".xls");
    EXPECT_EQ(failure(longName),
              "StgCreateDocFile error -2147286788: имя файла «" + longName + "» слишком длинное; книга не записана");
    ::close(fd);
    EXPECT_EQ(read_file(held), (std::vector<unsigned char>{1, 2, 3}));
    EXPECT_EQ(failure(held), "saved");
    // Nothing is left beside the target.
    EXPECT_EQ(run_command("ls -A " + dir.path() + " | grep -c -e '~' -e '\\.ulen3-' || true"), "0\n");
}

TEST_F(WriterTest, TooManyRecordsForASheetAreRefusedBeforeWriting) {
    table.Open(createTable());
    table.SetFilter("");
    for (int i = 0; i < kMaxExportRecords + 1; ++i) {
        table.Append();
        table.SetInteger(Field::NB_TYPE, 1);
        table.Post();
    }
    show_page_in_file_order(table, PageKind::Operative);
    EXPECT_THROW(exp2excel(table.Records(), dir.file("big.xls")), ExportError);
    EXPECT_FALSE(::access(dir.file("big.xls").c_str(), F_OK) == 0);
}

TEST(ExportText, SuccessMessageNamesTheFileWithoutItsFolder) {
    EXPECT_EQ(export_success_text("/home/lab/отчёты/june.xls"), "Экспорт в файл june.xls завершен успешно.");
}

} // namespace
