// The workbook's writes cut after every possible number of bytes: the error names the file and
// says the older one is kept, the older file is byte for byte what it was, no temporary file is
// left, and the next export works.

#include "base/File.h"
#include "export/CompoundFile.h"
#include "export/PageExport.h"
#include "export/SheetExport.h"
#include "support/TableFixture.h"
#include "table/Pages.h"

#include <gtest/gtest.h>

#include <dirent.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

int files_in(const std::string& dir) {
    int n = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            n += e->d_name[0] != '.';
        ::closedir(d);
    }
    return n;
}

TEST_F(TableFixture, AnExportCutAnywhereKeepsTheOlderWorkbook) {
    table.Open(createTable());
    appendRecords({1, 2, 3, 4, 5, 6, 7, 8});
    show_page_in_file_order(table, PageKind::Observation);
    const std::string xls = dir.file("june.xls");
    const std::vector<unsigned char> older = {'o', 'l', 'd'};
    WriteFaults faults;
    write_file(xls, older);
    set_write_faults(&faults);
    exp2excel(table.Records(), xls);
    set_write_faults(nullptr);
    const int64_t total = faults.written;
    ASSERT_GT(total, 1000);
    const int before = files_in(dir.path());
    for (int64_t n = 0; n < total; n += 7) {
        write_file(xls, older);
        faults = {};
        faults.bytesLeft = n;
        set_write_faults(&faults);
        try {
            exp2excel(table.Records(), xls);
            ADD_FAILURE() << "written with " << n << " of " << total << " bytes";
        } catch (const CompoundFileError& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("«" + xls + "»"), std::string::npos) << text;
            EXPECT_NE(text.find("Прежний файл, если он был, не изменён."), std::string::npos) << text;
        }
        set_write_faults(nullptr);
        ASSERT_EQ(read_file(xls), older) << "cut after " << n;
        ASSERT_EQ(files_in(dir.path()), before) << "a temporary file stayed, cut after " << n;
    }
    for (bool sync : {true, false}) {
        faults = {};
        faults.failSync = sync;
        faults.failRename = !sync;
        set_write_faults(&faults);
        EXPECT_THROW(exp2excel(table.Records(), xls), CompoundFileError);
        set_write_faults(nullptr);
        EXPECT_EQ(read_file(xls), older);
        EXPECT_EQ(files_in(dir.path()), before);
    }
    exp2excel(table.Records(), xls); // and the next export works
    EXPECT_EQ(static_cast<int64_t>(read_file(xls).size()), total);
}

// The same for a workbook .xlsx and a CSV text, cut at points spread over the whole write.
TEST_F(TableFixture, AnXlsxOrCsvExportCutAnywhereKeepsTheOlderFile) {
    table.Open(createTable());
    for (int i = 1; i <= 300; ++i)
        addReportRecord(i, i * 1.5, i * 0.25, 100 + i, "q", "Проба №" + std::to_string(i));
    const RecordView page = table.Records();
    const std::vector<int> rows = all_rows(page);
    const std::vector<unsigned char> older = {'o', 'l', 'd'};
    for (const char* name : {"june.xlsx", "june.csv"}) {
        const std::string out = dir.file(name);
        const ExportType type = *export_type_of(out);
        WriteFaults faults;
        set_write_faults(&faults);
        export_rows(page, rows, out, type);
        set_write_faults(nullptr);
        const auto whole = read_file(out);
        const int64_t total = faults.written;
        ASSERT_EQ(total, static_cast<int64_t>(whole.size())) << name << ": written once, in one piece";
        const int before = files_in(dir.path());
        for (int64_t n = 0; n < total; n += total / 23 + 1) {
            write_file(out, older);
            faults = {};
            faults.bytesLeft = n;
            set_write_faults(&faults);
            try {
                export_rows(page, rows, out, type);
                ADD_FAILURE() << name << " written with " << n << " of " << total << " bytes";
            } catch (const ExportError& e) {
                EXPECT_NE(std::string(e.what()).find("«" + out + "»"), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find("Прежний файл, если он был, не изменён."), std::string::npos);
            }
            set_write_faults(nullptr);
            ASSERT_EQ(read_file(out), older) << name << " cut after " << n;
            ASSERT_EQ(files_in(dir.path()), before) << name << ": a temporary file stayed, cut after " << n;
        }
        for (bool sync : {true, false}) {
            faults = {};
            faults.failSync = sync;
            faults.failRename = !sync;
            set_write_faults(&faults);
            EXPECT_THROW(export_rows(page, rows, out, type), ExportError) << name;
            set_write_faults(nullptr);
            EXPECT_EQ(read_file(out), older) << name;
        }
        export_rows(page, rows, out, type); // and the next export works
        EXPECT_EQ(read_file(out).size(), whole.size()) << name;
    }
}

} // namespace
