#include "support/TableFixture.h"
#include "table/Cp1251.h"
#include "table/ProductionIndex.h"
#include "table/RussianCollation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include <sys/stat.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

std::string hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty())
            out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

class Tags : public TableFixture {
protected:
    std::string mdx() const { return dir.file("survey.mdx"); }

    void openWith(const std::vector<double>& ps) {
        const std::string path = createTable();
        table.Open(path);
        appendRecords(ps);
    }

    void appendComments(const std::vector<std::string>& comments) {
        for (const auto& c : comments) {
            table.Append();
            table.SetNumber(Field::N, table.FileRecordCount() + 1);
            table.SetText(Field::COMMENT, c);
            table.Post();
        }
    }

    // Record numbers of TAB1 and TAB2 as Perl's XBase::Index walks them, a
    // line per tag; it reads a copy, opened read-write as it needs.
    std::string perlWalk(const std::string& tags = "'TAB1', 'TAB2'") {
        const std::string copy = dir.file("copy.mdx");
        write_file(copy, read_file(mdx()));
        const std::string script = dir.file("walk.pl");
        const std::string perl = R"(use XBase::Index;
for my $tag ()" + tags + R"() {
    my $i = XBase::Index->new($ARGV[0], tag => $tag) or die XBase::Index->errstr;
    $i->prepare_select;
    my $line = '';
    while (my ($k, $v) = $i->fetch) { $line .= "$v "; }
    print "$line\n";
})";
        write_file(script, std::vector<unsigned char>(perl.begin(), perl.end()));
        int status = -1;
        const std::string out = run_command("perl " + script + " " + copy, &status);
        EXPECT_EQ(status, 0);
        return out;
    }

    // The check with the open table's tags, written to the index, then again with the table
    // opened by a reader, whose tags are kept in memory.
    void inWrittenAndInMemoryTags(const std::function<void(bool readOnly)>& check) {
        check(false);
        const std::string path = table.Path();
        table.Close();
        table.OpenReadOnly(path);
        check(true);
    }

    // Closes the table and writes these 18-byte texts into the P fields of its first records as
    // they are, whatever the table would write; the table's path.
    std::string storeP(const std::vector<const char*>& stored) {
        const std::string path = table.Path();
        table.Close();
        DbfFile file;
        file.open(path, true);
        const int at = DbfFile::kHeaderLength + file.offset(Field::P);
        file.release();
        auto bytes = read_file(path);
        for (size_t r = 0; r < stored.size(); ++r)
            std::memcpy(bytes.data() + at + r * DbfFile::kRecordLength, stored[r], 18);
        write_file(path, bytes);
        return path;
    }

    std::vector<std::string> viewComments() {
        std::vector<std::string> out;
        for (table.First(); !table.Eof(); table.Next())
            out.push_back(table.Text(Field::COMMENT));
        return out;
    }
};

} // namespace

TEST(NumericKey, FollowsTheDbaseFormat) {
    EXPECT_EQ(hex(ProductionIndex::numericKey("      12.500000000")), "36 0D 12 50 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("       3.750000000")), "35 0D 37 50 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("      10.000000000")), "36 09 10 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("     -40.000000000")), "36 89 40 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("      -0.250000000")), "34 89 25 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("       0.050000000")), "33 05 50 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("   -1000.500000000")), "38 95 10 00 50 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("       0.000000001")), "2C 05 10 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("                  ")), "34 01 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("       0.000000000")), "34 01 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("-  5")), "35 85 50 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("       5.   ")), "35 05 50 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(hex(ProductionIndex::numericKey("  -.5")), "34 85 50 00 00 00 00 00 00 00 00 00");
    // What does not read as a number keys as 0.
    for (const char* junk : {"+ 5", "1.2.3", "--5", "5-", "1e5"})
        EXPECT_EQ(hex(ProductionIndex::numericKey(junk)), "34 01 00 00 00 00 00 00 00 00 00 00") << junk;
}

TEST_F(Tags, NumbersSortByValueWithEmptyAsZero) {
    const std::string path = createTable();
    table.Open(path);
    const std::vector<double> ps = {12.5, -40, 0.05, 3.75, -0.25, 10, -1000.5};
    appendRecords(ps);
    table.Append(); // record 8: P empty, counts as 0
    table.SetNumber(Field::N, 8);
    table.Post();
    table.AddTag("tab1", "P", false);
    table.SetIndexName("tab1");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{7, 2, 5, 8, 3, 4, 6, 1}));
    table.AddTag("tab1", "P", true);
    EXPECT_EQ(table.IndexName(), "tab1");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 6, 4, 3, 8, 5, 2, 7}));
}

// In a tag written to the index and in one a reader keeps in memory.
TEST_F(Tags, EqualKeysKeepPhysicalOrderAscendingAndReverseDescending) {
    openWith({2, 1, 2, 1, 2});
    inWrittenAndInMemoryTags([&](bool readOnly) {
        table.AddTag("tab1", "P", false);
        table.SetIndexName("tab1");
        EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 4, 1, 3, 5})) << readOnly;
        table.AddTag("tab1", "P", true);
        EXPECT_EQ(viewNumbers(), (std::vector<int>{5, 3, 1, 4, 2})) << readOnly;
    });
}

// Stored values that read as one double but differ in a digit past the fifteenth sort by their
// digits, as the index's keys hold them; equal values keep record order.
TEST_F(Tags, NumbersADoubleCannotTellApartSortByTheirDigits) {
    openWith({1, 1, 1, 2});
    const std::string path = storeP({"1.0000000000000001", "1.0000000000000000", "  1.00000000000000"});
    for (const bool readOnly : {false, true}) {
        readOnly ? table.OpenReadOnly(path) : table.Open(path);
        table.AddTag("tab1", "P", false);
        table.SetIndexName("tab1");
        EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 3, 1, 4})) << readOnly;
        table.AddTag("tab1", "P", true);
        EXPECT_EQ(viewNumbers(), (std::vector<int>{4, 1, 3, 2})) << readOnly;
        table.Close();
    }
}

// Values in the form the table writes them, at the edges of that form, sort by their exact value,
// and one value in another form gives the same order among them.
TEST_F(Tags, NumbersInTheTablesOwnFormSortByTheirExactValue) {
    openWith(std::vector<double>(10, 0));
    const std::string path = storeP(
        {"99999999.999999999", "-9999999.999999999", "       0.000000000", "      -0.000000000", "       0.000000001",
         "      -0.000000001", "12345678.123456789", "12345678.123456788", "       1.500000000", "  5-3000.000000000"});
    table.Open(path);
    const auto sorted = [&](bool descending) {
        table.AddTag("tab1", "P", descending);
        table.SetIndexName("tab1");
        return viewNumbers();
    };
    // Record 10 is no number and counts as 0: with it every record is read the general way;
    // without it (deleted) the rest are read in the table's own form.
    inWrittenAndInMemoryTags([&](bool readOnly) {
        EXPECT_EQ(sorted(false), (std::vector<int>{2, 6, 3, 4, 10, 5, 9, 8, 7, 1})) << readOnly;
        EXPECT_EQ(sorted(true), (std::vector<int>{1, 7, 8, 9, 5, 10, 4, 3, 6, 2})) << readOnly;
    });
    table.Close();
    table.Open(path);
    table.SetIndexName("");
    table.Last();
    table.Delete();
    table.Pack();
    inWrittenAndInMemoryTags([&](bool readOnly) {
        EXPECT_EQ(sorted(false), (std::vector<int>{2, 6, 3, 4, 5, 9, 8, 7, 1})) << readOnly;
        EXPECT_EQ(sorted(true), (std::vector<int>{1, 7, 8, 9, 5, 4, 3, 6, 2})) << readOnly;
    });
}

// A table and its tag written by an earlier version, in the order that put Cyrillic first: the
// open builds the tag anew in the word sort, Perl's XBase::Index walks it so, and the records
// are as they were.
TEST_F(Tags, ATagOfTheEarlierCyrillicFirstOrderIsWrittenAnewInTheWordSort) {
    const std::string data = std::string(ULEN3_TESTS_DIR) + "/data/cyrillic-first";
    const std::string path = dir.file("survey.db");
    write_file(path, read_file(data + ".db"));
    write_file(mdx(), read_file(data + ".mdx"));
    const auto records = [&] {
        const auto bytes = read_file(path);
        const size_t header = bytes[8] | bytes[9] << 8;
        return std::vector<unsigned char>(bytes.begin() + static_cast<std::ptrdiff_t>(header), bytes.end());
    };
    const auto before = records();
    table.Open(path);
    table.SetIndexName("tab1");
    const std::vector<std::string> wordSort = {"!знак", "123", "abc", "co-op", "coop", "Ёлка", "ель", "Проба"};
    EXPECT_EQ(viewComments(), wordSort);
    std::string numbers;
    for (table.First(); !table.Eof(); table.Next())
        numbers += std::to_string(table.RecordId()) + " ";
    EXPECT_EQ(perlWalk("'TAB1'"), numbers + "\n");
    table.Close();
    EXPECT_EQ(records(), before) << "the records are untouched";
}

// The word sort: Latin before Cyrillic, case and ё after the letters, hyphens last.
TEST_F(Tags, TextSortsInTheWordSortOrder) {
    const std::string path = createTable();
    table.Open(path);
    appendComments(
        {"жук", "Ель", "ёлка", "  отступ", "ель", "coop", "елка", "Ёлка", "", "Арбуз", "abc", "яма", "co-op"});
    table.AddTag("tab2", "COMMENT", false);
    table.SetIndexName("tab2");
    EXPECT_EQ(viewComments(), (std::vector<std::string>{"", "  отступ", "abc", "co-op", "coop", "Арбуз", "елка", "ёлка",
                                                        "Ёлка", "ель", "Ель", "жук", "яма"}));
}

TEST_F(Tags, DatesSortByTheirTextNotTheCalendar) {
    const std::string path = createTable();
    table.Open(path);
    for (const char* d : {"02.01.2026", "01.12.2025", "15.03.2024"}) {
        table.Append();
        table.SetNumber(Field::N, table.FileRecordCount() + 1);
        table.SetText(Field::DATE, d);
        table.Post();
    }
    table.AddTag("tab1", "DATE", false);
    table.SetIndexName("tab1");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 1, 3}));
}

TEST_F(Tags, FilterAndTagTogether) {
    openWith({5, 4, 3, 2, 1});
    table.First();
    table.Next();
    table.Edit();
    table.SetInteger(Field::NB_TYPE, 1); // record 2 becomes operative
    table.Post();
    table.AddTag("tab1", "P", false);
    table.SetIndexName("tab1");
    table.SetFilter("NB_TYPE=0");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{5, 4, 3, 1}));
    table.SetFilter("NB_TYPE=1");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2}));
}

TEST_F(Tags, AppendEditDeleteAndPackKeepTheOrder) {
    openWith({30, 10, 20});
    table.AddTag("tab1", "P", false);
    table.AddTag("tab2", "COMMENT", true);
    table.SetIndexName("tab1");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 3, 1}));

    table.Append();
    table.SetNumber(Field::N, 4);
    table.SetNumber(Field::P, 15);
    table.Post();
    EXPECT_EQ(table.Integer(Field::N), 4); // the new record is current, in its place
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 4, 3, 1}));

    table.First(); // record 2, P 10
    table.Edit();
    table.SetNumber(Field::P, 25);
    table.Post();
    EXPECT_EQ(table.Integer(Field::N), 2);
    EXPECT_EQ(viewNumbers(), (std::vector<int>{4, 3, 2, 1}));
    // The view read anew from the tag gives the order the posts made, not the one the build made.
    table.Refresh();
    EXPECT_EQ(viewNumbers(), (std::vector<int>{4, 3, 2, 1}));

    table.First();
    table.Next(); // record 3
    table.Delete();
    EXPECT_EQ(table.Integer(Field::N), 2);
    EXPECT_EQ(viewNumbers(), (std::vector<int>{4, 2, 1}));

    table.Pack();
    EXPECT_EQ(table.IndexName(), "tab1");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{4, 2, 1}));
    EXPECT_EQ(table.TagNames(), (std::vector<std::string>{"TAB1", "TAB2"}));
    // The index file names the table, not the temporary name it was built under.
    const auto m = read_file(mdx());
    ASSERT_GE(m.size(), 2048u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&m[4])), "survey");
    EXPECT_FALSE(temporariesLeft());
    table.Append();
    table.SetNumber(Field::N, 5);
    table.SetNumber(Field::P, 1);
    table.Post();
    EXPECT_EQ(viewNumbers(), (std::vector<int>{5, 4, 2, 1}));
}

TEST_F(Tags, IndexFileAndByte28FollowTheTags) {
    openWith({1, 2});
    EXPECT_FALSE(file_exists(mdx()));
    table.DropTag("tab1"); // no such tag: nothing happens
    EXPECT_FALSE(file_exists(mdx()));
    table.AddTag("tab1", "P", true);
    table.AddTag("tab2", "N", false);
    EXPECT_TRUE(file_exists(mdx()));
    EXPECT_EQ(read_file(dir.file("survey.db"))[28], 1);
    table.DropTag("tab9");
    EXPECT_EQ(table.TagNames().size(), 2u);
    table.DropTag("tab2");
    EXPECT_TRUE(file_exists(mdx()));
    table.DropTag("tab1");
    EXPECT_FALSE(file_exists(mdx()));
    EXPECT_EQ(read_file(dir.file("survey.db"))[28], 0);
}

// In one batch (a title click) the last tag dropped and a new one added keep the index file:
// the new tag goes into it, as a second tag would. A batch that only drops it, or a close inside
// the batch, leaves no index file and byte 28 cleared, as a drop outside a batch does.
TEST_F(Tags, ATagReplacedInOneBatchKeepsTheIndexFile) {
    openWith({3, 1, 2});
    table.AddTag("tab1", "P", false);
    struct stat before {};
    ASSERT_EQ(::stat(mdx().c_str(), &before), 0);
    {
        const ObservationTable::UpdateBatch batch(table);
        table.DropTag("tab1");
        EXPECT_TRUE(file_exists(mdx()));
        table.AddTag("tab1", "N", true);
        table.SetIndexName("tab1");
    }
    struct stat after {};
    ASSERT_EQ(::stat(mdx().c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(read_file(dir.file("survey.db"))[28], 1);
    EXPECT_EQ(viewNumbers(), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(perlWalk("'TAB1'"), "3 2 1 \n");
    {
        const ObservationTable::UpdateBatch batch(table);
        table.DropTag("tab1");
    }
    EXPECT_FALSE(file_exists(mdx()));
    EXPECT_EQ(read_file(dir.file("survey.db"))[28], 0);
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 2, 3}));
    table.AddTag("tab1", "P", false);
    {
        const ObservationTable::UpdateBatch batch(table);
        table.DropTag("tab1");
        table.Close();
    }
    EXPECT_FALSE(file_exists(mdx()));
    EXPECT_EQ(read_file(dir.file("survey.db"))[28], 0);
}

// The blocks of a dropped tag are taken again, lowest first, by the next tag; those left at the
// end of the file go with it, and those between tags form the free chain, which readers pass by.
TEST_F(Tags, BlocksOfADroppedTagAreReusedAndTheFileShrinks) {
    std::vector<double> ps;
    for (int i = 0; i < 400; ++i)
        ps.push_back((i * 37) % 400);
    openWith(ps);
    const auto size = [this] {
        struct stat st {};
        EXPECT_EQ(::stat(mdx().c_str(), &st), 0);
        return st.st_size;
    };
    const auto freeHead = [this] {
        const auto m = read_file(mdx());
        return m[36] | m[37] << 8 | m[38] << 16 | m[39] << 24;
    };
    // The P tag alone, built into a fresh file: the size to come back to.
    table.AddTag("tab1", "P", true);
    const auto alone = size();
    const std::string byP = perlWalk("'TAB1'");
    table.DropTag("tab1");

    table.AddTag("tab1", "COMMENT", false); // 400 blocks of 9 keys
    ASSERT_GT(size(), alone * 4);
    {
        const ObservationTable::UpdateBatch batch(table);
        table.DropTag("tab1");
        table.AddTag("tab1", "P", true);
    }
    EXPECT_EQ(size(), alone);
    EXPECT_EQ(freeHead(), 0);
    EXPECT_EQ(perlWalk("'TAB1'"), byP);

    // A tag dropped from between two others leaves its blocks free inside the file, chained from
    // the header, until a new tag takes them.
    table.AddTag("tab2", "COMMENT", false);
    table.AddTag("tab3", "N", false);
    const auto three = size();
    table.DropTag("tab2");
    EXPECT_EQ(size(), three);
    EXPECT_NE(freeHead(), 0);
    EXPECT_EQ(perlWalk("'TAB1', 'TAB3'"), byP + perlWalk("'TAB3'"));
    table.AddTag("tab2", "COMMENT", true);
    EXPECT_EQ(size(), three);
    EXPECT_EQ(freeHead(), 0);
    table.SetIndexName("tab3");
    EXPECT_EQ(viewNumbers().front(), 1);
}

TEST_F(Tags, CloseKeepsTheIndexAndTheNextOpenFindsItsTags) {
    openWith({3, 1, 2});
    table.AddTag("tab1", "P", false);
    table.SetIndexName("tab1");
    table.Close();
    EXPECT_EQ(read_file(dir.file("survey.db"))[28], 1);
    EXPECT_TRUE(file_exists(mdx()));

    // Another program run: the tags exist, none is selected.
    ObservationTable later;
    later.SetToday([] { return kDate; });
    later.Open(dir.file("survey.db"));
    EXPECT_EQ(later.TagNames(), (std::vector<std::string>{"TAB1"}));
    EXPECT_EQ(later.IndexName(), "");
    later.SetIndexName("tab1");
    std::vector<int> order;
    for (later.First(); !later.Eof(); later.Next())
        order.push_back(later.Integer(Field::N));
    EXPECT_EQ(order, (std::vector<int>{2, 3, 1}));
}

TEST_F(Tags, UnknownTagOrMissingIndexGivesPhysicalOrder) {
    openWith({3, 1, 2});
    table.SetIndexName("tab2");
    EXPECT_EQ(table.IndexName(), "");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 2, 3}));
    table.AddTag("tab1", "P", false);
    table.SetIndexName("tab1");
    table.Close();
    remove_file(mdx()); // deleted with the document
    table.Open(dir.file("survey.db"));
    EXPECT_EQ(table.IndexName(), "");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 2, 3}));
    table.Close();
    EXPECT_EQ(read_file(dir.file("survey.db"))[28], 0);
}

TEST_F(Tags, ATagThatCannotBeCreatedLeavesNoTrace) {
    openWith({1, 2});
    table.AddTag("much_too_long_name", "P", false);
    EXPECT_FALSE(file_exists(mdx()));
    EXPECT_EQ(read_file(dir.file("survey.db"))[28], 0);
    table.AddTag("tab1", "P", false);
    table.AddTag("much_too_long_name", "P", false);
    EXPECT_EQ(table.TagNames(), (std::vector<std::string>{"TAB1"}));
}

// Enough records for three levels of blocks, checked by an independent reader.
TEST_F(Tags, PerlXbaseIndexReadsEveryTagInOrder) {
    const std::string path = createTable();
    table.Open(path);
    const char* words[] = {"ёлка", "Ель", "ель", "  отступ", "Жук", "арбуз", "Арбуз", "яма", ""};
    unsigned seed = 7;
    for (int i = 0; i < 4000; ++i) {
        seed = seed * 1103515245u + 12345u;
        table.Append();
        table.SetNumber(Field::N, i + 1);
        table.SetNumber(Field::P, static_cast<double>(seed % 20000) / 8.0 - 1000.0);
        table.SetText(Field::COMMENT, std::string(words[(seed >> 8) % 9]) + std::to_string(seed % 50));
        table.Post();
    }
    table.AddTag("tab1", "P", true);
    table.AddTag("tab2", "COMMENT", false);
    // Posts after the build split blocks on the way.
    for (int i = 0; i < 600; ++i) {
        table.Append();
        table.SetNumber(Field::N, 4001 + i);
        table.SetNumber(Field::P, (i * 37) % 500 - 250.5);
        table.SetText(Field::COMMENT, std::string(words[i % 9]) + "x");
        table.Post();
    }
    std::vector<std::string> expected;
    for (const char* tag : {"tab1", "tab2"}) {
        table.SetIndexName(tag);
        std::string line;
        for (table.First(); !table.Eof(); table.Next())
            line += std::to_string(table.RecordId()) + " ";
        expected.push_back(line);
    }
    table.SetIndexName("tab1");
    double last = 1e9;
    for (table.First(); !table.Eof(); table.Next()) {
        EXPECT_LE(table.Number(Field::P), last);
        last = table.Number(Field::P);
    }
    table.Close();

    EXPECT_EQ(perlWalk(), expected[0] + "\n" + expected[1] + "\n");
}

// Tags grown from nothing by posts, edits and deletes (every kind of block
// split on the way) give the same order as sorting the records afresh.
// Many texts that share long beginnings, repeat, and differ at their ends only in spaces, hyphens,
// apostrophes, case, ё, a tab or a control character: the tag's order (kept in memory by a reader,
// and written to the index) is the order the comparison gives, equal texts in record order.
TEST_F(Tags, TextsThatShareLongBeginningsSortAsTheComparisonOrdersThem) {
    openWith({});
    const std::string stem = "Протокол испытаний образца бетона класса B25 партия ";
    const std::vector<std::string> ends = {"", " ", "-", "'", "а", "А", "ё", "е", "\t", "\x01", "a", "1", "  x"};
    unsigned seed = 7;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    std::vector<std::string> comments;
    for (int i = 0; i < 3000; ++i) {
        std::string c = stem.substr(0, next() % 4 == 0 ? next() % stem.size() : stem.size());
        for (unsigned k = next() % 4; k > 0; --k)
            c += ends[next() % ends.size()];
        comments.push_back(c);
    }
    appendComments(comments);
    // The order by definition: the comparison of the stored fields, then the record number.
    const RussianCollation order;
    std::vector<uint32_t> expected(comments.size());
    std::vector<std::string> stored(comments.size());
    const RecordView inFileOrder = table.Records();
    for (uint32_t r = 1; r <= comments.size(); ++r) {
        expected[r - 1] = r;
        stored[r - 1] = std::string(inFileOrder.Raw(static_cast<int>(r - 1), Field::COMMENT));
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [&](uint32_t a, uint32_t b) { return order.compare(stored[a - 1], stored[b - 1]) < 0; });
    inWrittenAndInMemoryTags([&](bool readOnly) {
        table.AddTag("tab2", "COMMENT", false);
        table.SetIndexName("tab2");
        std::vector<uint32_t> ids;
        for (table.First(); !table.Eof(); table.Next())
            ids.push_back(table.RecordId());
        EXPECT_EQ(ids, expected) << readOnly;
    });
}

TEST_F(Tags, RandomMaintenanceMatchesAFreshSort) {
    openWith({});
    table.AddTag("tab1", "P", true);
    table.AddTag("tab2", "COMMENT", false);
    const char* words[] = {"ёлка", "Ель", "ель", "  б", "Жук", "арбуз", "", "яма"};
    unsigned seed = 99;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    for (int op = 0; op < 3000; ++op) {
        const unsigned r = next();
        if (r % 5 < 3 || table.VisibleCount() == 0) {
            table.Append();
            table.SetNumber(Field::N, table.FileRecordCount() + 1);
        } else {
            table.First();
            for (unsigned k = r % static_cast<unsigned>(table.VisibleCount()); k > 0; --k)
                table.Next();
            if (r % 5 == 4) {
                table.Delete();
                continue;
            }
            table.Edit();
        }
        table.SetNumber(Field::P, static_cast<double>(next() % 400) / 4.0 - 50.0);
        table.SetText(Field::COMMENT, std::string(words[next() % 8]) + std::to_string(next() % 3));
        table.Post();
    }
    struct Row {
        uint32_t id;
        double p;
        std::string comment;
    };
    std::vector<Row> rows;
    table.SetIndexName("");
    for (table.First(); !table.Eof(); table.Next())
        rows.push_back({table.RecordId(), table.Number(Field::P), table.Text(Field::COMMENT)});
    const auto idsOf = [](const std::vector<Row>& v) {
        std::vector<uint32_t> ids;
        for (const auto& r : v)
            ids.push_back(r.id);
        return ids;
    };
    const auto viewIds = [this] {
        std::vector<uint32_t> ids;
        for (table.First(); !table.Eof(); table.Next())
            ids.push_back(table.RecordId());
        return ids;
    };

    auto byP = rows;
    std::stable_sort(byP.begin(), byP.end(), [](const Row& a, const Row& b) { return a.p < b.p; });
    std::reverse(byP.begin(), byP.end());
    table.SetIndexName("tab1");
    EXPECT_EQ(viewIds(), idsOf(byP));

    RussianCollation collation;
    auto byComment = rows;
    std::stable_sort(byComment.begin(), byComment.end(), [&](const Row& a, const Row& b) {
        std::string ka = utf8_to_cp1251(a.comment), kb = utf8_to_cp1251(b.comment);
        ka.resize(100, ' ');
        kb.resize(100, ' ');
        return collation.compare(ka, kb) < 0;
    });
    table.SetIndexName("tab2");
    EXPECT_EQ(viewIds(), idsOf(byComment));

    // The blocks on disk hold the same order. Deleted records stay in the tags
    // until the next pack, as in every dBase index, so they are left out here.
    const auto viewLine = [&](const char* tag) {
        table.SetIndexName(tag);
        std::string line;
        for (uint32_t id : viewIds())
            line += std::to_string(id) + " ";
        return line + "\n";
    };
    std::string liveOnly, id;
    for (char c : perlWalk()) {
        if (c >= '0' && c <= '9') {
            id += c;
            continue;
        }
        if (!id.empty() && !table.IsDeleted(static_cast<uint32_t>(std::stoul(id))))
            liveOnly += id + " ";
        id.clear();
        if (c == '\n')
            liveOnly += c;
    }
    EXPECT_EQ(liveOnly, viewLine("tab1") + viewLine("tab2"));
}
