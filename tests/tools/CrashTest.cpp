// Real ulen3-cli processes cut off in the middle of their writes: a preloaded shim lets each
// run write only up to a chosen byte and then kills it with SIGKILL. Whatever the byte, the
// table keeps every record old or new and none half-written, its index is absent, old or new,
// and an output is absent, the older file, or complete. Our reader and python3-dbfread agree.

#include "base/File.h"
#include "support/Emulator.h"
#include "support/TableFixture.h"
#include "table/ObservationTable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

using namespace ulen3;
using namespace ulen3::test;

namespace {

// The records of a table file as byte strings, read by the header's own lengths.
std::set<std::string> records_of(const std::vector<unsigned char>& file) {
    std::set<std::string> out;
    if (file.size() < 32)
        return out;
    const size_t header = file[8] | file[9] << 8, length = file[10] | file[11] << 8;
    for (size_t at = header; length > 0 && at + length <= file.size(); at += length)
        out.insert(std::string(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + length)));
    return out;
}

class CrashTest : public TableFixture {
protected:
    const std::string cli = ULEN3_CLI;
    std::string table, index, image1, image2;

    void SetUp() override {
#if defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "a preloaded shim cannot come before the sanitizer's runtime";
#endif
        table = dir.file("survey.db");
        index = dir.file("survey.mdx");
        image1 = dir.file("first.bin");
        image2 = dir.file("second.bin");
        run_command(std::string(ULEN3_EMU) + " make-image " + image1 + " --count1 40 --count2 5");
        run_command(std::string(ULEN3_EMU) + " make-image " + image2 + " --count1 60 --count2 8");
        ASSERT_EQ(run_command(cli + " decode " + image1 + " " + table + " >/dev/null; echo $?"), "0\n");
    }

    // Runs the command with the shim: with `cut` < 0 counting its bytes, else killed after `cut`.
    long long run(const std::string& command, long long cut) {
        const std::string count = dir.file("written");
        // A workbook's time is fixed, so that each run writes as many bytes as the one counted.
        const std::string env =
            "XDG_DATA_HOME='" + dir.file("data") + "' SOURCE_DATE_EPOCH=1765000000 LD_PRELOAD='" + ULEN3_CUT_WRITES +
            "' " + (cut < 0 ? "CUT_WRITES_COUNT='" + count + "' " : "CUT_WRITES_AFTER=" + std::to_string(cut) + " ");
        int status = -1;
        run_command("timeout 30 env " + env + cli + " " + command + " >/dev/null 2>&1", &status);
        if (cut < 0) {
            std::ifstream in(count);
            long long n = -1;
            in >> n;
            EXPECT_EQ(status, 0) << command;
            return n;
        }
        EXPECT_NE(status, 0) << command << " cut after " << cut << " was not cut";
        return 0;
    }

    struct Files {
        std::vector<unsigned char> table, index;
        bool hasIndex = false;
    };
    Files files() const {
        Files f;
        f.table = read_file(table);
        f.hasIndex = file_exists(index);
        if (f.hasIndex)
            f.index = read_file(index);
        return f;
    }
    void restore(const Files& f) {
        write_file(table, f.table);
        if (f.hasIndex)
            write_file(index, f.index);
        else
            remove_file(index);
    }

    // The table after a cut: readable by both readers, every record one of the old or the new,
    // the index absent, old or new (or, where `tornIndex` allows, one written in part in place,
    // which the next open builds anew).
    void checkTable(const Files& before, const Files& after, const std::string& what, bool tornIndex = false) {
        const Files now = files();
        ObservationTable reader;
        EXPECT_NO_THROW(reader.OpenReadOnly(table)) << what;
        const std::set<std::string> old = records_of(before.table), done = records_of(after.table);
        for (const std::string& r : records_of(now.table))
            EXPECT_TRUE(old.count(r) || done.count(r)) << what << ": a record neither old nor new";
        EXPECT_GE(records_of(now.table).size(), std::min(old.size(), done.size())) << what << ": records lost";
        const std::string py = "/usr/bin/python3 -c \"import dbfread; print(len(list(dbfread.DBF('" + table +
                               "', encoding='cp1251', ignore_missing_memofile=True))))\" 2>&1";
        const std::string read = run_command(py);
        EXPECT_TRUE(read == std::to_string(reader.VisibleCount()) + "\n" ||
                    std::stoul("0" + read) >= static_cast<unsigned long>(reader.VisibleCount()))
            << what << ": " << read;
        if (now.hasIndex && !tornIndex) {
            EXPECT_TRUE((before.hasIndex && now.index == before.index) || (after.hasIndex && now.index == after.index))
                << what << ": the index is neither the old one nor the new one";
        }
    }

    // Cuts the command at `cuts` bytes spread over all it writes; `check` looks at each result.
    void cutEverywhere(const std::string& command, int cuts, const std::function<void(const std::string&)>& extra = {},
                       bool tornIndex = false) {
        const Files before = files();
        const long long total = run(command, -1);
        ASSERT_GT(total, 0) << command;
        const Files after = files();
        std::mt19937 random(static_cast<unsigned>(total));
        for (int i = 0; i < cuts; ++i) {
            const long long cut = i == 0   ? 0
                                  : i == 1 ? total - 1
                                           : std::uniform_int_distribution<long long>(1, total - 2)(random);
            restore(before);
            run(command, cut);
            const std::string what = command + " cut after " + std::to_string(cut) + " of " + std::to_string(total);
            checkTable(before, after, what, tornIndex);
            if (extra)
                extra(what);
        }
        restore(before);
        // The next run finds what the killed runs left and takes it away.
        run(command, -1);
        EXPECT_FALSE(temporariesLeft()) << command;
    }
};

TEST_F(CrashTest, AppendSortAndRenumberLoseNothing) {
    cutEverywhere("decode " + image2 + " " + table + " --append", 12);
    cutEverywhere("sort " + table + " P --desc", 12);
    // The numbers are all old or all new.
    run_command(cli + " sort " + table + " COMMENT >/dev/null");
    const auto numbers = [&] {
        return run_command(cli + " dump " + table + " | tail -n +2 | cut -d, -f1 | sort -n | tr '\\n' ' '");
    };
    const std::string oldNumbers = numbers();
    cutEverywhere("renumber " + table, 12, [&](const std::string& what) {
        const std::string now = numbers();
        EXPECT_TRUE(now == oldNumbers || now.find("1 2 3 4 5 ") == 0) << what << ": " << now;
    });
}

// A tag replaced in the index file it is in, as a title click replaces its grid's tag: a large
// text tag by a small numeric one, whose blocks take the lowest free ones and leave the file
// shorter. Cut anywhere, the table opens, sorts by the index it finds or builds anew, and the next
// run leaves the very index an uncut run writes.
TEST_F(CrashTest, ATagReplacedInItsIndexFileCutAnywhereLeavesATableThatSorts) {
    ASSERT_EQ(run_command(cli + " sort " + table + " COMMENT >/dev/null; echo $?"), "0\n");
    const Files withComment = files();
    const std::string command = "sort " + table + " P --desc";
    run(command, -1);
    const Files withP = files();
    ASSERT_LT(withP.index.size(), withComment.index.size());
    const std::string sorted = run_command(cli + " dump " + table + " --sort P --desc");
    restore(withComment);
    cutEverywhere(
        command, 12,
        [&](const std::string& what) {
            EXPECT_EQ(run_command(cli + " dump " + table + " --sort P --desc"), sorted) << what;
            EXPECT_EQ(run_command(cli + " " + command + " >/dev/null; echo $?"), "0\n") << what;
            EXPECT_EQ(files().index, withP.index) << what;
        },
        true);
}

TEST_F(CrashTest, ExportAndPrintLeaveTheOlderFileOrAWholeOne) {
    const std::string xls = dir.file("out.xls"), pdf = dir.file("out.pdf");
    write_file(xls, {'o', 'l', 'd'});
    write_file(pdf, {'o', 'l', 'd'});
    cutEverywhere("export " + table + " " + xls, 10, [&](const std::string& what) {
        const auto now = read_file(xls);
        const bool old = now == std::vector<unsigned char>{'o', 'l', 'd'};
        EXPECT_TRUE(old ||
                    run_command("/usr/bin/python3 -c \"import xlrd; xlrd.open_workbook('" + xls + "')\" 2>&1").empty())
            << what;
        write_file(xls, {'o', 'l', 'd'});
    });
    // A workbook .xlsx and a CSV text: the older file, or one its reader opens whole.
    for (const char* name : {"out.xlsx", "out.csv"}) {
        const std::string out = dir.file(name);
        write_file(out, {'o', 'l', 'd'});
        const std::string reader = std::string(name).ends_with(".xlsx")
                                       ? "import openpyxl,sys; openpyxl.load_workbook(sys.argv[1]).active['A2'].value"
                                       : "import csv,sys; list(csv.reader(open(sys.argv[1], encoding='utf-8-sig')))";
        cutEverywhere("export " + table + " " + out, 10, [&](const std::string& what) {
            const bool old = read_file(out) == std::vector<unsigned char>{'o', 'l', 'd'};
            EXPECT_TRUE(old || run_command("/usr/bin/python3 -c \"" + reader + "\" " + out + " 2>&1").empty()) << what;
            write_file(out, {'o', 'l', 'd'});
        });
    }
    cutEverywhere("print " + table + " " + pdf, 10, [&](const std::string& what) {
        const auto now = read_file(pdf);
        const bool old = now == std::vector<unsigned char>{'o', 'l', 'd'};
        EXPECT_TRUE(old || run_command("pdfinfo '" + pdf + "' >/dev/null 2>&1; echo $?") == "0\n") << what;
        write_file(pdf, {'o', 'l', 'd'});
    });
}

// A download cut anywhere: the new table is absent or holds whole records, and the kept image
// is absent or complete.
TEST_F(CrashTest, ADownloadLosesNothingItKept) {
    Emulator emu(image2);
    const std::string fresh = dir.file("fresh.db");
    const std::string command = "download --port " + emu.device() + " --table " + fresh;
    const long long total = run(command, -1);
    ASSERT_GT(total, 0);
    const auto complete = read_file(fresh);
    const auto expected = read_file(image2);
    std::mt19937 random(7);
    for (int i = 0; i < 8; ++i) {
        const long long cut = std::uniform_int_distribution<long long>(0, total - 1)(random);
        remove_file(fresh);
        run_command("rm -rf '" + dir.file("data") + "'");
        run(command, cut);
        const std::string what = "download cut after " + std::to_string(cut) + " of " + std::to_string(total);
        if (file_exists(fresh)) {
            ObservationTable reader;
            EXPECT_NO_THROW(reader.OpenReadOnly(fresh)) << what;
            const std::set<std::string> done = records_of(complete);
            for (const std::string& r : records_of(read_file(fresh)))
                EXPECT_TRUE(done.count(r)) << what << ": a half-written record";
        }
        const std::string kept = run_command("ls " + dir.file("data") + "/ULEN3/images/*.bin 2>/dev/null");
        if (!kept.empty()) {
            EXPECT_EQ(read_file(kept.substr(0, kept.find('\n'))), expected) << what;
        }
    }
}

} // namespace
