// Damaged and changing files: refused or reported, and never written where they should not be.

#include "support/TableFixture.h"
#include "table/TableError.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

void put16(std::vector<unsigned char>& b, size_t at, unsigned v) {
    b[at] = static_cast<unsigned char>(v);
    b[at + 1] = static_cast<unsigned char>(v >> 8);
}

// A record length that is not the fields' own would read the records from the wrong places and
// write over them: the table is refused and the file stays as it was, from the window as from
// the command line.
TEST_F(TableFixture, ARecordLengthOtherThanTheFieldsIsRefusedAndChangesNothing) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2, 3});
    table.Close();
    for (unsigned length : {65535u, 300u, 289u}) {
        auto bytes = read_file(path);
        put16(bytes, 10, length);
        write_file(path, bytes);
        try {
            table.Open(path);
            ADD_FAILURE() << "opened with record length " << length;
        } catch (const TableError& e) {
            EXPECT_NE(std::string(e.what()).find("длина записи в заголовке " + std::to_string(length)),
                      std::string::npos)
                << e.what();
        }
        int status = 0;
        run_command(std::string(ULEN3_CLI) + " info " + path + " 2>&1", &status);
        EXPECT_NE(status, 0);
        EXPECT_EQ(read_file(path), bytes) << length;
    }
}

// The command line's readers read: the header's date and count stay as they are, and a table on
// a medium that cannot be written is still read.
TEST_F(TableFixture, TheCommandLinesReadersWriteNothing) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2, 3});
    table.Close();
    auto bytes = read_file(path);
    bytes[1] = 99; // another date
    bytes[4] = 0;  // a count that disagrees with the file
    bytes[28] = 1; // an index flag without an index file
    write_file(path, bytes);
    ::chmod(path.c_str(), 0444);
    const std::string index = path.substr(0, path.size() - 3) + ".mdx";
    const std::string pdf = dir.file("report.pdf");
    for (const std::string& command :
         {"info " + path, "dump " + path, "stats " + path, "dump " + path + " --sort N --desc",
          "print " + path + " " + pdf + " --sort P"}) {
        int status = -1;
        const std::string out = run_command(std::string(ULEN3_CLI) + " " + command + " 2>&1", &status);
        EXPECT_EQ(status, 0) << command << out;
        EXPECT_EQ(read_file(path), bytes) << command;
        EXPECT_FALSE(file_exists(index)) << command;
    }
    // The sort of a reader is a sort all the same.
    const std::string sorted = run_command(std::string(ULEN3_CLI) + " dump " + path + " --sort N --desc");
    EXPECT_LT(sorted.find("\n3,"), sorted.find("\n2,"));
    EXPECT_LT(sorted.find("\n2,"), sorted.find("\n1,"));
    EXPECT_NE(run_command(std::string(ULEN3_CLI) + " info " + path).find("Записей в файле: 3"), std::string::npos);
    ObservationTable reader;
    reader.OpenReadOnly(path);
    EXPECT_EQ(reader.VisibleCount(), 3);
    EXPECT_THROW(reader.Append(), TableError);
    reader.First();
    EXPECT_THROW(reader.Edit(), TableError);
    reader.Close();
    EXPECT_EQ(read_file(path), bytes);
    ::chmod(path.c_str(), 0644);
}

// A table opened for reading sorts through a tag in memory: the table's own index file, its tags
// and header byte 28 stay as they were, also when the reader's last tag goes.
TEST_F(TableFixture, AReadersSortLeavesTheIndexFileAsItWas) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({3, 1, 2});
    table.AddTag("tab1", "N", true);
    table.Close();
    const std::string index = table.IndexPath();
    const auto tableBytes = read_file(path);
    const auto indexBytes = read_file(index);
    table.OpenReadOnly(path);
    EXPECT_TRUE(table.TagNames().empty());
    table.AddTag("tab2", "P", false);
    table.SetIndexName("tab2");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{2, 3, 1}));
    table.DropTag("tab2");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 2, 3}));
    table.AddTag("tab2", "P", true);
    table.SetIndexName("tab2");
    EXPECT_EQ(viewNumbers(), (std::vector<int>{1, 3, 2}));
    table.Close();
    EXPECT_EQ(read_file(path), tableBytes);
    EXPECT_EQ(read_file(index), indexBytes);
}

// Another program cuts the file while it is open: the next write says so and goes nowhere.
TEST_F(TableFixture, AFileCutWhileOpenIsReportedNotWritten) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2, 3});
    ASSERT_EQ(::truncate(path.c_str(), 100), 0);
    table.Append();
    table.SetNumber(Field::N, 4);
    try {
        table.Post();
        ADD_FAILURE() << "posted into a cut file";
    } catch (const TableError& e) {
        EXPECT_NE(std::string(e.what()).find("укорочен или заменён другой программой"), std::string::npos) << e.what();
    }
    table.Cancel(); // the refused record stays the caller's until it is dropped
    table.First();
    EXPECT_THROW(
        {
            table.Edit();
            table.SetNumber(Field::P, 9);
            table.Post();
        },
        TableError);
    table.Cancel();
    EXPECT_THROW(table.Close(), TableError);
    EXPECT_EQ(read_file(path).size(), 100u); // nothing written past the cut
}

// Another program cuts a table of 100 records from 5000 bytes on, inside record 16.
class CutTable : public TableFixture {
protected:
    std::string hundredRecords() {
        const std::string path = createTable();
        table.Open(path);
        std::vector<double> ps(100);
        for (size_t i = 0; i < ps.size(); ++i)
            ps[i] = static_cast<double>(i + 1);
        appendRecords(ps);
        table.Close();
        return path;
    }
};

// Another program cuts the file while a reader reads it: the records past the cut read as empty
// instead of ending the program, and the close says what happened; the file is left as it is.
TEST_F(CutTable, WhileAReaderReadsItIsSaidAtTheClose) {
    const std::string path = hundredRecords();
    table.OpenReadOnly(path);
    ASSERT_EQ(::truncate(path.c_str(), 5000), 0);
    const RecordView records = table.Records();
    EXPECT_EQ(records.Number(0, Field::N), 1);
    EXPECT_EQ(records.Raw(99, Field::N), std::string(18, '\0'));
    try {
        table.Close();
        ADD_FAILURE() << "a cut file closed without a word";
    } catch (const TableError& e) {
        EXPECT_NE(std::string(e.what()).find("укорочен или заменён другой программой во время чтения"),
                  std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("Сама таблица не изменена"), std::string::npos) << e.what();
    }
    EXPECT_EQ(read_file(path).size(), 5000u);
    table.OpenReadOnly(path); // a whole file afterwards reads and closes as ever
    EXPECT_EQ(table.FileRecordCount(), (5000 - 449) / 290);
    table.Close();
}

// The same under a table open for changes, before its first change: neither the pack nor the
// renumbering writes the records read as zeros in place of the table, and nothing is written.
TEST_F(CutTable, UnderAnOpenTableItIsNeitherPackedNorRenumbered) {
    const std::string path = hundredRecords();
    table.Open(path);
    ASSERT_EQ(::truncate(path.c_str(), 5000), 0);
    EXPECT_EQ(table.Records().Raw(99, Field::N), std::string(18, '\0'));
    for (const bool pack : {true, false}) {
        try {
            pack ? table.Pack() : table.Renumber({1, 2, 3});
            ADD_FAILURE() << "wrote a copy of a cut table";
        } catch (const TableError& e) {
            EXPECT_NE(std::string(e.what()).find("укорочен или заменён другой программой; таблица не изменена"),
                      std::string::npos)
                << e.what();
        }
    }
    EXPECT_THROW(table.Close(), TableError);
    EXPECT_EQ(read_file(path).size(), 5000u);
    EXPECT_FALSE(temporariesLeft());
}

// The index file beside a table is never a link to another file: nothing is written through it.
TEST_F(TableFixture, ALinkedIndexFileIsNotFollowed) {
    const std::string path = createTable();
    const std::string other = dir.file("other.txt");
    write_file(other, {'k', 'e', 'e', 'p'});
    ASSERT_EQ(::symlink(other.c_str(), dir.file("survey.mdx").c_str()), 0);
    auto bytes = read_file(path);
    bytes[28] = 1;
    write_file(path, bytes);
    table.Open(path);
    appendRecords({2, 1});
    table.AddTag("tab1", "P", false);
    table.SetIndexName("tab1");
    EXPECT_EQ(table.IndexName(), ""); // the tag could not be made: file order
    table.Close();
    EXPECT_EQ(read_file(other), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(read_file(path)[28], 0);
}

// A file-size limit gives the disk-full message, not the end of the program.
TEST_F(TableFixture, AFileSizeLimitIsADiskFullNotASignal) {
    int status = -1;
    const std::string out = run_command("bash -c 'ulimit -f 8; " + std::string(ULEN3_CLI) + " demo " +
                                            dir.file("big.db") + " --count 1000' 2>&1",
                                        &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("Error while writing occurred. (Disk full?)"), std::string::npos) << out;
}

} // namespace
