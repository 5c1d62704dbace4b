#include "support/TableFixture.h"
#include "table/TableError.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

// Runs `body` in a child process; returns its exit code.
template <typename F> int inChild(F body) {
    const pid_t pid = fork();
    if (pid == 0)
        _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Limits the size of files this process writes, as a full disk would.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_saved);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = m_saved;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_oldHandler);
    }

private:
    rlimit m_saved{};
    void (*m_oldHandler)(int) = nullptr;
};

} // namespace

using ExclusiveOpen = TableFixture;

TEST_F(ExclusiveOpen, AnotherProcessCanReadButNotOpenForWriting) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2});

    const int reader = inChild([&] { return read_file(path).size() == 449u + 2 * 290 + 1 ? 0 : 1; });
    EXPECT_EQ(reader, 0);
    const int writer = inChild([&] {
        ObservationTable second;
        try {
            second.Open(path);
        } catch (const TableError&) {
            return 0;
        }
        return 1;
    });
    EXPECT_EQ(writer, 0);
    const int creator = inChild([&] {
        ObservationTable second;
        try {
            second.CreateEmpty(path); // must not cut a table that is open elsewhere
        } catch (const TableError&) {
            return 0;
        }
        return 1;
    });
    EXPECT_EQ(creator, 0);
    EXPECT_EQ(read_file(path).size(), 449u + 2 * 290 + 1);

    table.Close();
    const int later = inChild([&] {
        ObservationTable second;
        second.Open(path);
        return second.VisibleCount() == 2 ? 0 : 1;
    });
    EXPECT_EQ(later, 0);
}

using DiskFull = TableFixture;

TEST_F(DiskFull, APostThatCannotBeWrittenIsNotCounted) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2, 3});
    {
        FileSizeLimit limit(449 + 3 * 290 + 100);
        table.Append();
        table.SetNumber(Field::N, 4);
        try {
            table.Post();
            FAIL() << "the post should have failed";
        } catch (const TableError& e) {
            EXPECT_STREQ(e.what(), "Error while writing occurred. (Disk full?)");
        }
        EXPECT_EQ(table.FileRecordCount(), 3u);
        EXPECT_EQ(table.VisibleCount(), 3);
    }
    table.Close();
    const auto f = read_file(path);
    EXPECT_EQ(f.size(), 449u + 3 * 290 + 1);
    EXPECT_EQ(f[4], 3);
    EXPECT_EQ(f.back(), 0x1A);
}

TEST_F(DiskFull, ACreateThatCannotBeWrittenDeletesItsFile) {
    const std::string path = dir.file("full.db");
    {
        FileSizeLimit limit(200);
        EXPECT_THROW(table.CreateEmpty(path), TableError);
    }
    EXPECT_FALSE(file_exists(path));
}

TEST_F(DiskFull, APackThatCannotBeWrittenKeepsTheTable) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({1, 2, 3, 4});
    table.First();
    table.Delete();
    const auto before = read_file(path);
    {
        FileSizeLimit limit(500);
        EXPECT_THROW(table.Pack(), TableError);
    }
    EXPECT_EQ(read_file(path), before);
    EXPECT_FALSE(temporariesLeft());
    EXPECT_EQ(table.VisibleCount(), 3);
}
