#include "base/File.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

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
