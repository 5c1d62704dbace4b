#include "base/File.h"
#include "base/FileMapping.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace ulen3;
using ulen3::test::TempDir;

namespace {

const std::vector<unsigned char> kOlder = {'o', 'l', 'd'};

// Three pieces of a new file, 12 bytes in all.
bool write_three(const std::string& path, bool lockTarget, WholeFileFailure& why) {
    static const char a[] = "head", b[] = "body", c[] = "tail";
    return write_whole_file(path, {{a, 4}, {b, 4}, {c, 4}}, lockTarget, why);
}

} // namespace

TEST(WholeFile, PiecesFollowOneAnother) {
    TempDir dir;
    const std::string path = dir.file("out.bin");
    test::write_file(path, kOlder);
    WholeFileFailure why;
    ASSERT_TRUE(write_three(path, true, why));
    const auto bytes = test::read_file(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "headbodytail");
}

TEST(WholeFile, ACutAtAnyByteKeepsTheOlderFileAndNoTemporary) {
    TempDir dir;
    const std::string path = dir.file("out.bin");
    test::write_file(path, kOlder);
    for (int64_t cut = 0; cut < 12; ++cut) {
        WriteFaults faults;
        faults.bytesLeft = cut;
        set_write_faults(&faults);
        WholeFileFailure why;
        const bool written = write_three(path, false, why);
        set_write_faults(nullptr);
        ASSERT_FALSE(written) << "cut after " << cut;
        EXPECT_EQ(why.failure, FileFailure::NoSpace);
        EXPECT_EQ(why.error, 28);
        EXPECT_FALSE(why.beforeWrite);
        EXPECT_EQ(test::read_file(path), kOlder);
    }
    EXPECT_EQ(test::run_command("ls -A '" + dir.path() + "'"), "out.bin\n");
}

TEST(WholeFile, AFailedSyncOrRenameKeepsTheOlderFile) {
    TempDir dir;
    const std::string path = dir.file("out.bin");
    test::write_file(path, kOlder);
    for (const bool rename : {false, true}) {
        WriteFaults faults;
        faults.failSync = !rename;
        faults.failRename = rename;
        set_write_faults(&faults);
        WholeFileFailure why;
        EXPECT_FALSE(write_three(path, false, why));
        set_write_faults(nullptr);
        EXPECT_EQ(why.failure, FileFailure::Io);
        EXPECT_EQ(why.error, 5); // EIO
        EXPECT_EQ(test::read_file(path), kOlder);
    }
    EXPECT_EQ(test::run_command("ls -A '" + dir.path() + "'"), "out.bin\n");
}

TEST(WholeFile, AHeldTargetIsRefusedBeforeAByteIsWritten) {
    TempDir dir;
    const std::string path = dir.file("out.bin");
    test::write_file(path, kOlder);
    File holder;
    FileFailure failure;
    ASSERT_TRUE(holder.open(path, File::Options{}, failure));
    WholeFileFailure why;
    EXPECT_FALSE(write_three(path, true, why));
    EXPECT_TRUE(why.beforeWrite);
    EXPECT_EQ(why.failure, FileFailure::Busy);
    EXPECT_EQ(test::read_file(path), kOlder);
    // Without the target's lock the holder does not stand in the way.
    EXPECT_TRUE(write_three(path, false, why));
}

TEST(WholeFile, AMissingFolderIsSaidBeforeWriting) {
    TempDir dir;
    WholeFileFailure why;
    EXPECT_FALSE(write_three(dir.file("no/such/out.bin"), true, why));
    EXPECT_TRUE(why.beforeWrite);
    EXPECT_EQ(why.failure, FileFailure::NotFound);
}

// Another program cuts a mapped file: the bytes before the cut read as they are, the pages past
// it read as zeros instead of ending the process, and the mapping says so. Mappings of other
// files are not touched by it.
TEST(FileMapping, AFileCutWhileMappedReadsZerosPastTheCutAndSaysSo) {
    TempDir dir;
    const long page = sysconf(_SC_PAGESIZE);
    std::vector<unsigned char> bytes(static_cast<size_t>(3 * page));
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>('a' + i % 26);
    test::write_file(dir.file("cut.db"), bytes);
    test::write_file(dir.file("whole.db"), bytes);
    File cut, whole;
    FileFailure failure;
    ASSERT_TRUE(cut.open(dir.file("cut.db"), File::Options{false, true}, failure));
    ASSERT_TRUE(whole.open(dir.file("whole.db"), File::Options{false, true}, failure));
    const auto cutMap = FileMapping::map(cut, bytes.size());
    const auto wholeMap = FileMapping::map(whole, bytes.size());
    ASSERT_TRUE(cutMap && wholeMap);
    ASSERT_EQ(::truncate(dir.file("cut.db").c_str(), page + 10), 0);
    EXPECT_EQ(cutMap->data()[page + 9], bytes[static_cast<size_t>(page + 9)]);
    EXPECT_FALSE(cutMap->cut());
    EXPECT_EQ(cutMap->data()[2 * page + 5], 0);
    EXPECT_TRUE(cutMap->cut());
    EXPECT_EQ(cutMap->data()[2 * page + 6], 0);
    EXPECT_EQ(std::memcmp(wholeMap->data(), bytes.data(), bytes.size()), 0);
    EXPECT_FALSE(wholeMap->cut());
}
