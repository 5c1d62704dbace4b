// Every write of the table's files cut after each possible number of bytes: the error says what
// happened, the records stored before read back byte for byte, no half-written file is left, and
// the next operation works.

#include "base/File.h"
#include "support/TableFixture.h"
#include "table/TableError.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

using namespace ulen3;
using namespace ulen3::test;

namespace {

class FaultTest : public TableFixture {
protected:
    std::string path;
    std::vector<unsigned char> base;
    WriteFaults faults;

    void SetUp() override {
        path = createTable();
        table.Open(path);
        appendRecords({5, 3, 1, 4, 2});
        table.Close();
        base = read_file(path);
    }
    void TearDown() override { set_write_faults(nullptr); }

    // The five records as the file held them before the operation.
    std::vector<unsigned char> records(const std::vector<unsigned char>& file) const {
        if (file.size() < 449 + 5 * 290u)
            return {};
        return {file.begin() + 449, file.begin() + 449 + 5 * 290};
    }
    // The live records among them, in file order: what a pack keeps.
    static std::vector<std::vector<unsigned char>> live(const std::vector<unsigned char>& file, size_t count) {
        std::vector<std::vector<unsigned char>> out;
        for (size_t i = 0; i < count && 449 + (i + 1) * 290 <= file.size(); ++i)
            if (file[449 + i * 290] == ' ')
                out.emplace_back(file.begin() + 449 + i * 290, file.begin() + 449 + (i + 1) * 290);
        return out;
    }

    // What the operation writes in all, run once without a limit.
    int64_t bytesOf(const std::function<void()>& op, const std::function<void()>& prepare) {
        write_file(path, base);
        table.Open(path);
        if (prepare)
            prepare();
        faults = {};
        set_write_faults(&faults);
        op();
        set_write_faults(nullptr);
        if (table.Active())
            table.Close();
        return faults.written;
    }

    // Runs the operation with the writes cut after n bytes, for every n short of the whole.
    void walk(const std::function<void()>& op, const std::vector<std::string>& messages,
              const std::function<void()>& prepare = {}, bool packs = false) {
        const int64_t total = bytesOf(op, prepare);
        ASSERT_GT(total, 0);
        for (int64_t n = 0; n < total; ++n) {
            write_file(path, base);
            table.Open(path);
            if (prepare)
                prepare();
            const auto before = records(read_file(path));
            const auto liveBefore = live(read_file(path), 5);
            const int visibleBefore = table.VisibleCount();
            faults = {};
            faults.bytesLeft = n;
            set_write_faults(&faults);
            std::string said;
            try {
                op();
            } catch (const TableError& e) {
                said = e.what();
            }
            set_write_faults(nullptr);
            if (!messages.empty()) {
                ASSERT_FALSE(said.empty()) << "no error after " << n << " of " << total << " bytes";
                EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::string& m) {
                    return said.find(m) != std::string::npos;
                })) << said;
            }
            // The program goes on: the next record is posted and the table closes.
            if (!table.Active())
                table.Open(path);
            table.Cancel();
            table.Append();
            table.SetNumber(Field::N, 99);
            table.SetInteger(Field::NB_TYPE, 0);
            table.Post();
            table.Close();
            const auto after = read_file(path);
            if (packs) {
                auto liveAfter = live(after, SIZE_MAX);
                liveAfter.resize(std::min(liveAfter.size(), liveBefore.size()));
                ASSERT_TRUE(liveAfter == liveBefore) << "a live record changed, cut after " << n;
            } else {
                ASSERT_TRUE(records(after) == before) << "the records stored before changed, cut after " << n;
            }
            ObservationTable check;
            check.Open(path);
            // The new record is there, and the operation's own one at most.
            EXPECT_GE(check.VisibleCount(), visibleBefore + 1) << n;
            EXPECT_LE(check.VisibleCount(), visibleBefore + 2) << n;
            check.Close();
            EXPECT_FALSE(temporariesLeft()) << "a temporary file stayed, cut after " << n;
        }
    }
};

TEST_F(FaultTest, APostCutAnywhereUncountsTheRecord) {
    walk(
        [this] {
            table.Append();
            table.SetNumber(Field::N, 6);
            table.Post();
        },
        {kDiskFullMessage});
    // An independent reader agrees: the five records and the one posted after the failure.
    EXPECT_EQ(run_command("/usr/bin/python3 -c \"import dbfread; print([int(r['N']) for r in dbfread.DBF('" + path +
                          "')])\" 2>&1"),
              "[1, 2, 3, 4, 5, 99]\n");
}

TEST_F(FaultTest, AnEditCutAnywhereLeavesTheOthersAlone) {
    walk(
        [this] {
            table.Last();
            table.Edit();
            table.SetText(Field::COMMENT, "новое");
            table.Post();
        },
        {kDiskFullMessage});
}

TEST_F(FaultTest, APostWithTagsCutAnywhereIsReported) {
    walk(
        [this] {
            table.AddTag("tab1", "P", false);
            table.Append();
            table.SetNumber(Field::P, 7);
            table.Post();
        },
        {});
}

TEST_F(FaultTest, APackCutAnywhereLeavesTheTableAsItWas) {
    walk([this] { table.Pack(); }, {"Не удалось сжать таблицу", kDiskFullMessage},
         [this] {
             table.First();
             table.Delete();
         },
         true);
}

TEST_F(FaultTest, AFailingSyncOrRenameOfThePackKeepsTheTable) {
    for (bool sync : {true, false}) {
        write_file(path, base);
        table.Open(path);
        table.Last();
        table.Delete();
        const auto marked = read_file(path);
        faults = {};
        faults.failSync = sync;
        faults.failRename = !sync;
        set_write_faults(&faults);
        try {
            table.Pack();
            ADD_FAILURE() << "packed";
        } catch (const TableError& e) {
            // The record deleted before the pack stays marked; nothing else changed, and the message says so.
            EXPECT_NE(std::string(e.what()).find(
                          "удалённые записи помечены в файле и не показываются, остальные записи не изменены"),
                      std::string::npos)
                << e.what();
        }
        set_write_faults(nullptr);
        EXPECT_EQ(read_file(path), marked);
        EXPECT_FALSE(temporariesLeft());
        EXPECT_EQ(table.VisibleCount(), 4);
        table.Pack(); // and the next try works
        EXPECT_EQ(table.FileRecordCount(), 4u);
        table.Close();
    }
}

TEST_F(FaultTest, ACloseCutAnywhereKeepsTheRecords) {
    walk([this] { table.Close(); }, {"Не удалось записать заголовок таблицы"});
}

TEST_F(FaultTest, ACreateCutAnywhereLeavesNoFile) {
    const std::string fresh = dir.file("fresh.db");
    faults = {};
    set_write_faults(&faults);
    table.CreateEmpty(fresh);
    set_write_faults(nullptr);
    const int64_t total = faults.written;
    ASSERT_EQ(total, 450);
    for (int64_t n = 0; n < total; ++n) {
        remove_file(fresh);
        faults = {};
        faults.bytesLeft = n;
        set_write_faults(&faults);
        EXPECT_THROW(table.CreateEmpty(fresh), TableError) << n;
        set_write_faults(nullptr);
        EXPECT_FALSE(file_exists(fresh)) << "half a table left, cut after " << n;
    }
}

} // namespace
