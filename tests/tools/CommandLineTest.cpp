// ulen3-cli used as a user would, against the files a careless command line could harm: its
// own input, links to it, other tables, pipes, folders, and numbers that are no numbers.

#include "base/File.h"
#include "support/TableFixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

class CommandLineTest : public TableFixture {
protected:
    // Runs ulen3-cli with the arguments; the exit code in `status`, stdout and stderr together.
    std::string cli(const std::string& arguments, int& status) {
        return run_command("timeout 20 " + std::string(ULEN3_CLI) + " " + arguments + " 2>&1", &status);
    }
    std::string path;
    void SetUp() override {
        path = createTable();
        table.Open(path);
        appendRecords({1.5, 2.5, 3.5});
        table.Close();
    }
};

// No output lands on the table it is made from, on its index, on another table or on a file
// another program holds: the command says which file and why, exits non-zero, and every one of
// those files keeps its bytes.
TEST_F(CommandLineTest, OutputsNeverReplaceATableAnIndexOrAHeldFile) {
    ASSERT_EQ(::symlink(path.c_str(), dir.file("link.pdf").c_str()), 0);
    ASSERT_EQ(::link(path.c_str(), dir.file("hard.xls").c_str()), 0);
    const std::string index = dir.file("survey.mdx");
    write_file(index, std::vector<unsigned char>(1024, 2));
    const std::string other = dir.file("other.dat");
    {
        ObservationTable t;
        t.CreateEmpty(other);
    }
    const std::string held = dir.file("held.pdf");
    write_file(held, {'%', 'P', 'D', 'F'});
    const int holder = ::open(held.c_str(), O_RDWR);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    ASSERT_EQ(::fcntl(holder, F_OFD_SETLK, &lock), 0);

    const auto before = read_file(path);
    const auto indexBefore = read_file(index);
    const auto otherBefore = read_file(other);
    const std::string folder = dir.file("folder.xls");
    ::mkdir(folder.c_str(), 0755);
    struct Case {
        std::string command, said;
    };
    const std::vector<Case> cases = {
        {"print " + path + " " + path,
         "Отчёт не записан: «" + path + "» — это таблица, из которой взяты записи; файл не изменён"},
        {"print " + path + " " + dir.file("link.pdf"), "это таблица, из которой взяты записи"},
        {"export " + path + " " + dir.file("hard.xls"),
         "Книга не записана: «" + dir.file("hard.xls") + "» — это таблица, из которой взяты записи"},
        {"export " + path + " " + index,
         "Книга не записана: «" + index + "» — это индекс таблицы, из которой взяты записи"},
        {"print " + path + " " + other, "«" + other + "» — таблица dBase; файл не изменён"},
        {"print " + path + " " + held, "«" + held + "» открыт другой программой для записи; файл не изменён"},
        {"export " + path + " " + folder, "«" + folder + "» — папка"},
    };
    for (const Case& c : cases) {
        int status = -1;
        const std::string out = cli(c.command, status);
        EXPECT_EQ(status, 1) << c.command;
        EXPECT_NE(out.find(c.said), std::string::npos) << c.command << "\n" << out;
    }
    EXPECT_EQ(read_file(path), before);
    EXPECT_EQ(read_file(index), indexBefore);
    EXPECT_EQ(read_file(other), otherBefore);
    EXPECT_EQ(read_file(held), (std::vector<unsigned char>{'%', 'P', 'D', 'F'}));
    ::close(holder);
    // Outputs of their own kind still replace older ones.
    int status = -1;
    cli("print " + path + " " + held, status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(run_command("ls -A " + dir.path() + " | grep -c -e '~' -e '\\.ulen3-' -e tmp || true"), "0\n");
}

// The readers write nothing, export included: a read-only table exports, its header date and
// the user's index stay as they were.
TEST_F(CommandLineTest, ExportReadsATableItMayNotWriteAndLeavesItsIndex) {
    table.Open(path);
    table.AddTag("tab1", "P", true);
    table.Close();
    auto bytes = read_file(path);
    bytes[1] = 99; // another header date
    write_file(path, bytes);
    ::chmod(path.c_str(), 0444);
    const std::string index = dir.file("survey.mdx");
    const auto indexBefore = read_file(index);
    int status = -1;
    const std::string out = cli("export " + path + " " + dir.file("out.xls") + " --page observation", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(read_file(path), bytes);
    EXPECT_EQ(read_file(index), indexBefore);
    const std::string py = "/usr/bin/python3 -c \"import xlrd; s = xlrd.open_workbook('" + dir.file("out.xls") +
                           "').sheet_by_index(0); print([s.cell_value(r, 3) for r in range(1, s.nrows)])\"";
    EXPECT_EQ(run_command(py), "[1.5, 2.5, 3.5]\n"); // the order of the file, not the tag's
}

// A tag that cannot be made says why, and leaves no index behind.
TEST_F(CommandLineTest, ASortThatCannotBeMadeSaysWhy) {
    const std::string elsewhere = dir.file("elsewhere.txt");
    write_file(elsewhere, {'k', 'e', 'e', 'p'});
    ASSERT_EQ(::symlink(elsewhere.c_str(), dir.file("survey.mdx").c_str()), 0);
    int status = -1;
    const std::string out = cli("sort " + path + " P", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("не удалось создать тег tab1: Файл «" + dir.file("survey.mdx") +
                       "» — ссылка или не обычный файл; он не открыт; таблица и её индекс не изменены"),
              std::string::npos)
        << out;
    EXPECT_EQ(read_file(elsewhere), (std::vector<unsigned char>{'k', 'e', 'e', 'p'}));
    EXPECT_EQ(run_command("ls -A '" + dir.path() + "' | grep -c ulen3- || true"), "0\n");
}

// A table that is a named pipe or a folder is refused at once, saying what it is.
TEST_F(CommandLineTest, APipeOrAFolderIsNoTable) {
    const std::string fifo = dir.file("pipe.db");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string folder = dir.file("folder.db");
    ::mkdir(folder.c_str(), 0755);
    for (const std::string command : {"info", "dump", "stats", "renumber", "sort"}) {
        for (const auto& [target, kind] : {std::pair{fifo, "именованный канал"}, std::pair{folder, "папка"}}) {
            int status = -1;
            const std::string out = cli(command + " " + target + (command == "sort" ? " P" : ""), status);
            EXPECT_EQ(status, 1) << command << " " << target << out;
            EXPECT_NE(out.find("«" + target + "» — " + kind + ", а не файл таблицы"), std::string::npos)
                << command << "\n"
                << out;
        }
    }
}

// Number options take digits in their range and nothing else, and say the range.
// "print" and "chart" run the drawing helper from beside the program (or the helpers' folder of
// an install): without it they say where it was looked for, and write nothing.
TEST_F(CommandLineTest, DrawingWithoutItsHelperSaysWhereItLookedAndWritesNothing) {
    const std::string lone = dir.file("ulen3-cli");
    write_file(lone, read_file(ULEN3_CLI));
    ASSERT_EQ(::chmod(lone.c_str(), 0755), 0);
    for (const std::string command :
         {"print " + path + " " + dir.file("r.pdf"), "chart " + path + " " + dir.file("c.png")}) {
        int status = -1;
        const std::string out = run_command("timeout 20 " + lone + " " + command + " 2>&1", &status);
        EXPECT_EQ(status, 1) << out;
        EXPECT_NE(out.find("не найдена или не запускается программа ulen3-draw"), std::string::npos) << out;
        EXPECT_NE(out.find(dir.file("ulen3-draw")), std::string::npos) << out;
        EXPECT_NE(out.find("ничего не записано"), std::string::npos) << out;
    }
    EXPECT_FALSE(file_exists(dir.file("r.pdf")));
    EXPECT_FALSE(file_exists(dir.file("c.png")));
    // Beside the build's own program, the helper is found and draws.
    int status = -1;
    const std::string out = cli("print " + path + " " + dir.file("r.pdf"), status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_TRUE(file_exists(dir.file("r.pdf")));
}

TEST_F(CommandLineTest, NumberOptionsAreReadStrictlyWithTheirRange) {
    const std::string image = dir.file("image.bin");
    write_file(image, {0, 0, 0, 0});
    struct Case {
        std::string command, said;
    };
    const std::vector<Case> cases = {
        {"demo " + dir.file("a.db") + " --count abc", "--count: «abc» — не число от 0 до 1000000"},
        {"demo " + dir.file("b.db") + " --count 99999999999", "--count: «99999999999» — не число от 0 до 1000000"},
        {"demo " + dir.file("c.db") + " --count -5", "--count: «-5» — не число"},
        {"decode " + image + " " + dir.file("d.db") + " --dev-code 999", "--dev-code: «999» — не число от 0 до 255"},
        {"decode " + image + " " + dir.file("e.db") + " --serial 70000", "--serial: «70000» — не число от 0 до 65535"},
        {"decode " + image + " " + dir.file("f.db") + " --serial 12x", "--serial: «12x» — не число"},
    };
    for (const Case& c : cases) {
        int status = -1;
        const std::string out = cli(c.command, status);
        EXPECT_EQ(status, 1) << c.command;
        EXPECT_NE(out.find(c.said), std::string::npos) << c.command << "\n" << out;
    }
    for (const char* name : {"a.db", "b.db", "c.db", "d.db", "e.db", "f.db"})
        EXPECT_FALSE(file_exists(dir.file(name))) << name;
    int status = -1;
    cli("demo " + dir.file("g.db") + " --count 0x10", status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(cli("info " + dir.file("g.db"), status).find("Видимых: 16"), std::string::npos);
}

// dump prints numbers as stored: in full, without an exponent.
TEST_F(CommandLineTest, DumpPrintsNumbersInFullWithoutAnExponent) {
    table.Open(path);
    table.Append();
    table.SetNumber(Field::N, 1000000);
    table.SetNumber(Field::P, 12345678.123456789);
    table.SetNumber(Field::R, -0.000001);
    table.Post();
    table.Close();
    int status = -1;
    const std::string out = cli("dump " + path, status);
    EXPECT_NE(out.find("\n1000000,"), std::string::npos) << out;
    EXPECT_NE(out.find(",12345678.123456789,-0.000001,"), std::string::npos) << out;
    EXPECT_EQ(out.find("e+"), std::string::npos) << out;
}

// A disk that fills during an append: the message says how many records were kept, and those
// are whole; a renumber through a symbolic link renumbers the table it leads to, and a table
// with a second hard-linked name is not renumbered at all.
TEST_F(CommandLineTest, AppendsOnAFullDiskAndRenumbersThroughLinksSayWhatTheyKept) {
    const std::string first = dir.file("first.bin"), second = dir.file("second.bin"), t = dir.file("t.db");
    run_command(std::string(ULEN3_EMU) + " make-image " + first + " --count1 40 --count2 5");
    run_command(std::string(ULEN3_EMU) + " make-image " + second + " --count1 60 --count2 8");
    int status = -1;
    cli("decode " + first + " " + t, status);
    ASSERT_EQ(status, 0);
    // 45 records of 290 bytes behind a 449-byte header: 13,500 bytes; the limit leaves room for 9.
    const std::string out = run_command("bash -c 'ulimit -f 16; " + std::string(ULEN3_CLI) + " decode " + second + " " +
                                            t + " --append' 2>&1",
                                        &status);
    EXPECT_EQ(status, 1) << out;
    EXPECT_NE(out.find("Записей добавлено в таблицу: 9 из 28; они сохранены, остальные не записаны."),
              std::string::npos)
        << out;
    ObservationTable reader;
    reader.OpenReadOnly(t);
    EXPECT_EQ(reader.FileRecordCount(), 54u);
    reader.Close();

    const std::string link = dir.file("link.db");
    ASSERT_EQ(::symlink(t.c_str(), link.c_str()), 0);
    cli("renumber " + link, status);
    EXPECT_EQ(status, 0);
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
    EXPECT_EQ(run_command(std::string(ULEN3_CLI) + " dump " + t + " | tail -n 1 | cut -d, -f1"), "54\n");

    ASSERT_EQ(::link(t.c_str(), dir.file("other-name.db").c_str()), 0);
    const auto before = read_file(t);
    const std::string refused = cli("renumber " + t, status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(refused.find("имеет и другие имена (жёсткие ссылки): перенумерация заменила бы только одно из них; "
                           "номера не изменены"),
              std::string::npos)
        << refused;
    EXPECT_EQ(read_file(t), before);
}

} // namespace
