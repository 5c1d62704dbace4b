#include "support/TableFixture.h"
#include "table/TableError.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

using namespace ulen3;
using namespace ulen3::test;

namespace {

std::string bytesAt(const std::vector<unsigned char>& f, size_t off, size_t n) {
    return std::string(reinterpret_cast<const char*>(f.data()) + off, n);
}

// The header and descriptors of a new table, written from the format's rules.
std::vector<unsigned char> goldenEmptyTable() {
    std::vector<unsigned char> g(450, 0);
    const unsigned char head[32] = {0x03, 126, 12, 9, 0, 0, 0, 0, 0xC1, 0x01, 0x22, 0x01, 0, 0,    0, 0,
                                    0,    0,   0,  0, 0, 0, 0, 0, 0,    0,    0,    0,    0, 0xC9, 0, 0};
    std::memcpy(g.data(), head, 32);
    struct D {
        const char* name;
        char type;
        int width, dec;
    } const fields[] = {{"N", 'N', 18, 9},       {"DATE", 'C', 10, 0},     {"TIME", 'C', 8, 0},
                        {"DEV_TYPE", 'N', 4, 0}, {"SERIAL", 'N', 18, 9},   {"NB_TYPE", 'N', 4, 0},
                        {"P", 'N', 18, 9},       {"R", 'N', 18, 9},        {"ZAV", 'C', 8, 0},
                        {"TYPE", 'C', 15, 0},    {"COMMENT", 'C', 100, 0}, {"H", 'N', 18, 9},
                        {"T", 'C', 50, 0}};
    for (int i = 0; i < 13; ++i) {
        unsigned char* d = &g[32 + 32 * i];
        std::memcpy(d, fields[i].name, std::strlen(fields[i].name));
        d[11] = static_cast<unsigned char>(fields[i].type);
        d[16] = static_cast<unsigned char>(fields[i].width);
        d[17] = static_cast<unsigned char>(fields[i].dec);
    }
    g[448] = 0x0D;
    g[449] = 0x1A;
    return g;
}

} // namespace

TEST_F(TableFixture, CreateEmptyWritesTheExact450ByteFile) {
    const std::string path = createTable();
    EXPECT_EQ(read_file(path), goldenEmptyTable());
    EXPECT_FALSE(table.Active());
}

TEST_F(TableFixture, CreateEmptyReplacesAnExistingFile) {
    const std::string path = dir.file("old.db");
    write_file(path, std::vector<unsigned char>(5000, 'x'));
    table.CreateEmpty(path);
    EXPECT_EQ(read_file(path), goldenEmptyTable());
}

TEST_F(TableFixture, CreateEmptyInAMissingFolderFailsAndLeavesNothing) {
    const std::string path = dir.file("no/such/folder/t.db");
    EXPECT_THROW(table.CreateEmpty(path), TableError);
    EXPECT_FALSE(file_exists(path));
}

TEST_F(TableFixture, OnePostedRecordGivesA740ByteFile) {
    const std::string path = createTable();
    table.Open(path);
    table.Append();
    table.SetNumber(Field::N, 1);
    table.SetNumber(Field::P, -2.5);
    table.SetInteger(Field::NB_TYPE, 1);
    table.SetInteger(Field::DEV_TYPE, -5);
    table.SetText(Field::DATE, "  01.02.26");
    table.SetText(Field::COMMENT, std::string(120, 'a'));
    table.Post();
    table.Close();

    const auto f = read_file(path);
    ASSERT_EQ(f.size(), 740u);
    EXPECT_EQ(f[4], 1);
    EXPECT_EQ(f[5] | f[6] | f[7], 0);
    EXPECT_EQ(f[739], 0x1A);
    const size_t r = 449;
    EXPECT_EQ(f[r], ' ');
    EXPECT_EQ(bytesAt(f, r + 1, 18), "       1.000000000");
    EXPECT_EQ(bytesAt(f, r + 19, 10), "  01.02.26");
    EXPECT_EQ(bytesAt(f, r + 29, 8), std::string(8, ' '));
    EXPECT_EQ(bytesAt(f, r + 37, 4), "-  5");
    EXPECT_EQ(bytesAt(f, r + 59, 4), "   1");
    EXPECT_EQ(bytesAt(f, r + 63, 18), "      -2.500000000");
    EXPECT_EQ(bytesAt(f, r + 122, 100), std::string(100, 'a'));
    EXPECT_EQ(bytesAt(f, r + 222, 18), std::string(18, ' '));

    table.Open(path);
    EXPECT_EQ(table.Number(Field::N), 1.0);
    EXPECT_EQ(table.Text(Field::DATE), "  01.02.26");
    EXPECT_EQ(table.Text(Field::COMMENT).size(), 100u);
    EXPECT_TRUE(table.IsNull(Field::H));
    EXPECT_EQ(table.Number(Field::H), 0.0);
    EXPECT_EQ(table.Text(Field::TIME), "");
    EXPECT_EQ(table.Integer(Field::DEV_TYPE), -5);
}

TEST_F(TableFixture, EveryPostReachesTheFileAtOnce) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2, 3});
    // Without closing: records, count and end marker are on disk already.
    const auto f = read_file(path);
    ASSERT_EQ(f.size(), 449u + 3 * 290 + 1);
    EXPECT_EQ(f[4], 3);
    EXPECT_EQ(f.back(), 0x1A);
}

TEST_F(TableFixture, ValuesThatDoNotFitAreRefusedAndChangeNothing) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({7});
    table.Edit();
    EXPECT_THROW(table.SetNumber(Field::P, 1e8), TableError);
    EXPECT_THROW(table.SetNumber(Field::P, -1e7), TableError);
    EXPECT_THROW(table.SetInteger(Field::NB_TYPE, 12345), TableError);
    EXPECT_THROW(table.SetInteger(Field::NB_TYPE, -1000), TableError);
    EXPECT_EQ(table.Number(Field::P), 7.0);
    table.SetNumber(Field::P, 99999999.0);
    table.SetNumber(Field::R, -9999999.0);
    table.Post();
    EXPECT_EQ(table.Number(Field::P), 99999999.0);
    EXPECT_EQ(table.Number(Field::R), -9999999.0);
    // Writing outside appending or editing is refused too.
    EXPECT_THROW(table.SetNumber(Field::P, 1), TableError);
}

TEST_F(TableFixture, FieldsAreFoundByNameInAnyCase) {
    const std::string path = createTable();
    table.Open(path);
    table.Append();
    table.SetText("comment", "Примечание");
    table.SetNumber("p", 3.25);
    table.Post();
    EXPECT_EQ(table.Text("COMMENT"), "Примечание");
    EXPECT_EQ(table.Number("P"), 3.25);
    EXPECT_THROW(table.Number("NOPE"), TableError);
}

TEST_F(TableFixture, EmptyNbTypePassesTheObservationFilter) {
    const std::string path = createTable();
    table.Open(path);
    for (int kind : {0, 1, -1, 1, 0}) {
        table.Append();
        table.SetNumber(Field::N, table.FileRecordCount() + 1);
        if (kind >= 0)
            table.SetInteger(Field::NB_TYPE, kind);
        table.Post();
    }
    table.SetFilter("NB_TYPE=0");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 3, 5}));
    table.SetFilter("NB_TYPE=1");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 4}));
    table.SetFilter("");
    EXPECT_EQ(table.VisibleCount(), 5);
    EXPECT_THROW(table.SetFilter("NB_TYPE"), TableError);
    EXPECT_THROW(table.SetFilter("COMMENT=1"), TableError);
    EXPECT_THROW(table.SetFilter("NB_TYPE=x"), TableError);
    EXPECT_EQ(table.Filter(), "");
}

TEST_F(TableFixture, FilterSurvivesCloseAndAppliesToTheNextOpen) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2});
    table.Edit();
    table.SetInteger(Field::NB_TYPE, 1);
    table.Post();
    table.SetFilter("NB_TYPE=1");
    table.Close();
    table.Open(path);
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2}));
}

TEST_F(TableFixture, PostedRecordThatTheFilterExcludesLeavesTheView) {
    const std::string path = createTable();
    table.SetFilter("NB_TYPE=0");
    table.Open(path);
    appendRecords({1, 2, 3});
    table.First();
    table.Next();
    table.Edit();
    table.SetInteger(Field::NB_TYPE, 1);
    table.Post();
    EXPECT_EQ(table.VisibleCount(), 2);
    EXPECT_EQ(table.Integer(Field::N), 3); // the next record became current
    table.Append();
    table.SetNumber(Field::N, 4);
    table.SetInteger(Field::NB_TYPE, 1);
    table.Post();
    EXPECT_EQ(table.VisibleCount(), 2);
    EXPECT_EQ(table.FileRecordCount(), 4u);
}

TEST_F(TableFixture, DeleteKeepsTheBytesUntilPack) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2, 3, 4});
    table.First();
    table.Next();
    table.Delete();
    EXPECT_EQ(table.Integer(Field::N), 3);
    EXPECT_EQ(table.RecordId(), 3u);
    EXPECT_EQ(table.VisibleCount(), 3);
    EXPECT_EQ(table.FileRecordCount(), 4u);
    table.Last();
    table.Delete();
    EXPECT_EQ(table.Integer(Field::N), 3); // no next record: the previous one
    const auto f = read_file(path);
    EXPECT_EQ(f[449 + 290], '*');
    EXPECT_EQ(bytesAt(f, 449 + 290 + 1, 18), "       2.000000000");
    EXPECT_EQ(f[4], 4);
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 3}));
}

TEST_F(TableFixture, PackRewritesTheFileWithoutDeletedRecords) {
    const std::string path = createTable("a.db");
    write_file(dir.file("a_1.db"), {'k', 'e', 'e', 'p'});
    table.Open(path);
    appendRecords({1, 2, 3, 4, 5});
    table.First();
    table.Delete();
    table.Next();
    table.Delete(); // record 3
    table.Pack();
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 4, 5}));
    EXPECT_EQ(table.FileRecordCount(), 3u);
    table.First();
    EXPECT_EQ(table.RecordId(), 1u);
    EXPECT_EQ(table.Integer(Field::N), 2);
    // The file is locked again after the rename: a second opener is refused.
    ObservationTable other;
    EXPECT_THROW(other.Open(path), TableError);
    table.Close();

    const auto f = read_file(path);
    ASSERT_EQ(f.size(), 449u + 3 * 290 + 1);
    EXPECT_EQ(f[4], 3);
    EXPECT_EQ(read_file(dir.file("a_1.db")), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
    EXPECT_FALSE(file_exists(dir.file("a_2.db")));
    EXPECT_FALSE(temporariesLeft());
}

// Through a symbolic link the pack rewrites the table the link leads to, and the link stays;
// a table with a second hard-linked name is not packed, and the message says what is left.
TEST_F(TableFixture, PackRewritesTheTableALinkLeadsToAndRefusesASecondName) {
    const std::string real = createTable("real.db");
    const std::string link = dir.file("link.db");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    table.Open(link);
    appendRecords({1, 2, 3});
    table.First();
    table.Delete();
    table.Pack();
    table.Close();
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(read_file(real)[4], 2); // the target holds the packed records
    EXPECT_FALSE(temporariesLeft());

    ASSERT_EQ(::link(real.c_str(), dir.file("copy.db").c_str()), 0);
    table.Open(real);
    table.First();
    table.Delete();
    try {
        table.Pack();
        ADD_FAILURE() << "packed";
    } catch (const TableError& e) {
        EXPECT_EQ(std::string(e.what()), "Таблица «" + real +
                                             "» имеет и другие имена (жёсткие ссылки): сжатие заменило бы "
                                             "только одно из них. Файл не сжат; удалённые записи помечены в файле и не "
                                             "показываются, остальные записи не изменены");
    }
    EXPECT_EQ(table.VisibleCount(), 1);
    table.Close();
    EXPECT_EQ(read_file(real), read_file(dir.file("copy.db")));
}

TEST_F(TableFixture, RefreshKeepsTheCurrentRecordOrMovesToItsNeighbour) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2, 3, 4});
    table.First();
    table.Next(); // record 2
    table.Refresh();
    EXPECT_EQ(table.RecordId(), 2u);

    // Record 2 becomes operative: the observation view moves on to record 3.
    table.Edit();
    table.SetInteger(Field::NB_TYPE, 1);
    table.Post();
    table.GotoRecord(2);
    table.SetFilter("NB_TYPE=0");
    EXPECT_EQ(table.RecordId(), 3u);

    // Leaving the last record of a view falls back to the previous one.
    table.SetFilter("");
    table.Last();
    table.Edit();
    table.SetInteger(Field::NB_TYPE, 1);
    table.Post();
    table.GotoRecord(4);
    table.SetFilter("NB_TYPE=0");
    EXPECT_EQ(table.RecordId(), 3u);
}

TEST_F(TableFixture, NavigationOnAnEmptyView) {
    const std::string path = createTable();
    table.Open(path);
    EXPECT_TRUE(table.Eof());
    EXPECT_EQ(table.VisibleCount(), 0);
    EXPECT_EQ(table.RecordId(), 0u);
    EXPECT_TRUE(table.IsNull(Field::N));
    table.Last();
    EXPECT_TRUE(table.Eof());
    EXPECT_THROW(table.Edit(), TableError);
    table.Delete(); // nothing to delete: nothing happens
    EXPECT_EQ(table.FileRecordCount(), 0u);
}

TEST_F(TableFixture, CloseDropsTheRecordBeingAppended) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1});
    table.Append();
    table.SetNumber(Field::N, 2);
    table.Close();
    EXPECT_EQ(read_file(path).size(), 740u);
}

TEST_F(TableFixture, OpenAndCloseDateTheHeaderOnTheDayOfTheClose) {
    const std::string path = createTable();
    auto f = read_file(path);
    f[1] = 90;
    f[2] = 1;
    f[3] = 2;
    write_file(path, f);
    table.Open(path);
    EXPECT_EQ(read_file(path)[1], 90); // opening alone writes nothing
    table.Close();
    f = read_file(path);
    EXPECT_EQ(f[1], 126);
    EXPECT_EQ(f[2], 12);
    EXPECT_EQ(f[3], 9);
}

// ---------------------------------------------------------------- opening foreign and broken files

class OpenChecks : public TableFixture {
protected:
    // A table with two records whose bytes the test then changes.
    std::string makeTable() {
        const std::string path = createTable();
        table.Open(path);
        appendRecords({1, 2});
        table.Close();
        return path;
    }

    void expectOpenFailsUnchanged(const std::string& path) {
        const auto before = read_file(path);
        EXPECT_THROW(table.Open(path), TableError);
        EXPECT_FALSE(table.Active());
        EXPECT_EQ(read_file(path), before);
    }
};

TEST_F(OpenChecks, NotADbaseFile) {
    const std::string path = dir.file("text.db");
    write_file(path, {'h', 'e', 'l', 'l', 'o', '\n'});
    expectOpenFailsUnchanged(path);
    const std::string big = dir.file("big.db");
    write_file(big, std::vector<unsigned char>(2000, 'x'));
    expectOpenFailsUnchanged(big);
    EXPECT_THROW(table.Open(dir.file("missing.db")), TableError);
}

TEST_F(OpenChecks, WrongVersionOrZeroLengths) {
    std::string path = makeTable();
    auto f = read_file(path);
    f[0] = 0x30; // a FoxPro table
    write_file(path, f);
    expectOpenFailsUnchanged(path);
    f[0] = 0x83; // dBase III with memo: low bits 3 are accepted
    write_file(path, f);
    table.Open(path);
    table.Close();
    f = read_file(path);
    f[10] = f[11] = 0;
    write_file(path, f);
    expectOpenFailsUnchanged(path);
}

TEST_F(OpenChecks, MissingFieldOrFieldOfAnotherKind) {
    const std::string path = makeTable();
    const auto good = read_file(path);
    auto f = good;
    f[32 + 32 * 6] = 'Q'; // P renamed to Q
    write_file(path, f);
    expectOpenFailsUnchanged(path);
    f = good;
    f[32 + 32 * 10 + 11] = 'N'; // COMMENT as a number
    write_file(path, f);
    expectOpenFailsUnchanged(path);
    f = good;
    f[32 + 32 * 5 + 17] = 2; // NB_TYPE with decimals
    write_file(path, f);
    expectOpenFailsUnchanged(path);
    f = good;
    f[32 + 32 * 6 + 17] = 0; // P without decimals
    write_file(path, f);
    expectOpenFailsUnchanged(path);
    f = good;
    f[32 + 32 * 12 + 16] = 200; // T wider than the record
    write_file(path, f);
    expectOpenFailsUnchanged(path);
}

TEST_F(OpenChecks, ALockedFileIsRefused) {
    const std::string path = makeTable();
    ObservationTable first;
    first.Open(path);
    expectOpenFailsUnchanged(path);
    first.Close();
    table.Open(path);
}

TEST_F(OpenChecks, ACountThatDisagreesWithTheFileSizeIsCorrected) {
    const std::string path = makeTable();
    auto f = read_file(path);
    f[4] = 9;
    f.pop_back(); // no end marker: reads the same
    write_file(path, f);
    table.Open(path);
    EXPECT_EQ(table.FileRecordCount(), 2u);
    EXPECT_EQ(read_file(path)[4], 2); // written once the open succeeded
    EXPECT_EQ(read_file(path).back(), 0x1A);
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 2}));
}

TEST_F(OpenChecks, AByte28WithoutIndexFileIsClearedByTheClose) {
    const std::string path = makeTable();
    auto f = read_file(path);
    f[28] = 1;
    write_file(path, f);
    table.SetIndexName("tab1");
    table.Open(path);
    EXPECT_EQ(table.IndexName(), "");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 2}));
    EXPECT_EQ(read_file(path)[28], 1);
    table.Close();
    EXPECT_EQ(read_file(path)[28], 0);
}

// A table of another program: an extra field, other text widths, fields in
// another order; it opens, reads and writes within its own widths.
TEST_F(OpenChecks, ExtraFieldsAndOtherTextWidthsAreTolerated) {
    struct D {
        const char* name;
        char type;
        int width, dec;
    } const fields[] = {{"EXTRA", 'C', 5, 0},    {"N", 'N', 10, 2},      {"DATE", 'C', 10, 0},   {"TIME", 'C', 8, 0},
                        {"DEV_TYPE", 'N', 3, 0}, {"SERIAL", 'F', 18, 9}, {"NB_TYPE", 'N', 1, 0}, {"P", 'N', 18, 9},
                        {"R", 'N', 18, 9},       {"ZAV", 'C', 8, 0},     {"TYPE", 'C', 15, 0},   {"COMMENT", 'C', 4, 0},
                        {"H", 'N', 18, 9},       {"T", 'C', 300, 0}};
    const int n = 14;
    int recordLength = 1;
    for (const auto& d : fields)
        recordLength += d.width;
    const int headerLength = 32 + 32 * n + 1;
    std::vector<unsigned char> f(static_cast<size_t>(headerLength), 0);
    f[0] = 0x03;
    f[8] = headerLength & 0xFF;
    f[9] = headerLength >> 8;
    f[10] = recordLength & 0xFF;
    f[11] = recordLength >> 8;
    f[4] = 1;
    for (int i = 0; i < n; ++i) {
        unsigned char* d = &f[32 + 32 * i];
        std::memcpy(d, fields[i].name, std::strlen(fields[i].name));
        d[11] = static_cast<unsigned char>(fields[i].type);
        d[16] = static_cast<unsigned char>(fields[i].width & 0xFF);
        d[17] = static_cast<unsigned char>(fields[i].type == 'C' ? fields[i].width >> 8 : fields[i].dec);
    }
    f[static_cast<size_t>(headerLength - 1)] = 0x0D;
    std::string rec(static_cast<size_t>(recordLength), ' ');
    std::memcpy(&rec[1], "xxxxx", 5);
    std::memcpy(&rec[6], "     12.50", 10);
    std::memcpy(&rec[6 + 10 + 10 + 8 + 3 + 18], "1", 1);
    std::memcpy(&rec[rec.size() - 300], std::string(300, 'q').data(), 300);
    f.insert(f.end(), rec.begin(), rec.end());
    const std::string path = dir.file("foreign.db");
    write_file(path, f);

    table.Open(path);
    EXPECT_EQ(table.Number(Field::N), 12.5);
    EXPECT_EQ(table.Integer(Field::NB_TYPE), 1);
    EXPECT_EQ(table.Text(Field::T).size(), 300u); // the file's whole text
    table.Edit();
    table.SetText(Field::COMMENT, "длинное примечание");
    table.SetText(Field::T, std::string(80, 'z'));
    EXPECT_THROW(table.SetInteger(Field::NB_TYPE, 12), TableError);
    table.Post();
    EXPECT_EQ(table.Text(Field::COMMENT), "длин");
    EXPECT_EQ(table.Text(Field::T), std::string(50, 'z')); // cut to the smaller width
    table.Close();
    EXPECT_EQ(read_file(path).size(), static_cast<size_t>(headerLength + recordLength + 1));
}

namespace {

// Remembers what the table told it, as "cursor", "view", "view renumbered" or "record N".
class Recorder : public TableListener {
public:
    std::vector<std::string> heard;
    void CursorMoved() override { heard.push_back("cursor"); }
    void ViewReset(bool renumbered) override { heard.push_back(renumbered ? "view renumbered" : "view"); }
    void RecordChanged(uint32_t id) override { heard.push_back("record " + std::to_string(id)); }
    std::vector<std::string> take() { return std::exchange(heard, {}); }
};

using Strings = std::vector<std::string>;

} // namespace

TEST_F(TableFixture, ListenersHearWhatChangedOnceAnOperationIsOver) {
    const std::string path = createTable();
    Recorder r;
    table.AddListener(&r);
    table.Open(path);
    EXPECT_EQ(r.take(), Strings{"view renumbered"});
    appendRecords({3, 1, 2});
    EXPECT_EQ(r.take(), (Strings{"view", "view", "view"}));
    table.First();
    table.Next();
    EXPECT_EQ(r.take(), (Strings{"cursor", "cursor"}));
    // An edit that keeps its row tells of that record only.
    table.Edit();
    table.SetText(Field::COMMENT, "x");
    table.Post();
    EXPECT_EQ(r.take(), Strings{"record 2"});
    // An edit that moves the record in a sorted view resets the view.
    table.AddTag("tab1", "P", false);
    table.SetIndexName("tab1");
    r.take();
    table.First();
    table.Edit();
    table.SetNumber(Field::P, 9);
    table.Post();
    EXPECT_EQ(r.take(), (Strings{"cursor", "view"}));
    table.SetFilter("NB_TYPE=0");
    EXPECT_EQ(r.take(), Strings{"view"});
    // A batch tells once; a reopen of the same file keeps the record ids.
    {
        const ObservationTable::UpdateBatch batch(table);
        table.Close();
        table.Open(path);
        table.Last();
        EXPECT_TRUE(r.heard.empty());
    }
    EXPECT_EQ(r.take(), Strings{"view"});
    // The record view reads without moving the cursor or telling anybody.
    const RecordView records = table.Records();
    ASSERT_EQ(records.Count(), 3);
    EXPECT_EQ(records.Number(0, Field::P), 2.0);
    EXPECT_EQ(records.RecordId(2), 2u);
    EXPECT_EQ(records.Text(2, Field::COMMENT), "x");
    EXPECT_EQ(table.ViewRow(), 2);
    EXPECT_TRUE(r.heard.empty());
    // A pack gives the records other ids.
    table.First();
    table.Delete();
    table.Pack();
    r.take();
    table.Delete();
    r.take();
    table.Pack();
    EXPECT_EQ(r.take(), Strings{"view renumbered"});
    table.RemoveListener(&r);
    table.First();
    EXPECT_TRUE(r.heard.empty());
}

TEST_F(TableFixture, ARecordBeingChangedIsNeverDroppedBehindTheCallersBack) {
    table.Open(createTable());
    appendRecords({1, 2, 3});
    table.First();
    table.Edit();
    table.SetNumber(Field::P, 10);
    // Every operation that would lose the edit refuses while it is open.
    EXPECT_THROW(table.Refresh(), TableError);
    EXPECT_THROW(table.SetFilter("NB_TYPE=0"), TableError);
    EXPECT_THROW(table.SetIndexName(""), TableError);
    EXPECT_THROW(table.AddTag("tab1", "P", false), TableError);
    EXPECT_THROW(table.Delete(), TableError);
    EXPECT_THROW(table.Pack(), TableError);
    EXPECT_THROW(table.Next(), TableError);
    EXPECT_THROW(table.Append(), TableError);
    EXPECT_EQ(table.state(), ObservationTable::State::Editing);
    // The edit is still the caller's to post, and it reaches the record it began on.
    table.Post();
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 2, 3}));
    table.First();
    EXPECT_EQ(table.Number(Field::P), 10.0);
    table.Next();
    EXPECT_EQ(table.Number(Field::P), 2.0);
    table.Append();
    EXPECT_THROW(table.First(), TableError);
    table.Cancel();
    EXPECT_EQ(table.VisibleCount(), 3);
}
