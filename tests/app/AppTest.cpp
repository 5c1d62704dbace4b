// The application shell: version information, about box, splash.

#include "app/FileVersion.h"
#include "app/HelpViewer.h"
#include "app/about.h"
#include "app/logo.h"
#include "dialogs/UserDialogs.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

#include <QDir>
#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

// A version block made by the build's own generator, inside other bytes as in a program file.
QByteArray program_with(const std::string& args, const TempDir& dir) {
    const std::string out = dir.file("block.bin");
    int status = -1;
    run_command("/usr/bin/python3 " ULEN3_SOURCE_DIR "/scripts/version-block.py " + out + " " + args + " --raw",
                &status);
    EXPECT_EQ(status, 0);
    const auto block = read_file(out);
    QByteArray bytes(1001, '\x7f'); // an odd offset: alignment counts from the block
    bytes.append(reinterpret_cast<const char*>(block.data()), static_cast<qsizetype>(block.size()));
    bytes.append(QByteArray(64, '\0'));
    return bytes;
}

TEST(FileVersion, ReadsTheProgramsOwnVersion) { EXPECT_EQ(file_version(QStringLiteral(ULEN3_PROGRAM)), "1.0.1.0"); }

TEST(FileVersion, TranslationFormsTheKey) {
    TempDir dir;
    EXPECT_EQ(file_version_of(program_with("2.3.0.7", dir)), "2.3.0.7");
    // Language 0400 with code page 04E3 forms the key 040004E3.
    EXPECT_EQ(file_version_of(program_with("4.5.6.7 --lang 0400", dir)), "4.5.6.7");
    // A translation without a string table for it gives 0.0.0.0.
    EXPECT_EQ(file_version_of(program_with("2.3.0.7 --no-strings", dir)), "0.0.0.0");
    EXPECT_EQ(file_version_of(QByteArray(4096, 'x')), "0.0.0.0");
    // The key text alone, without a block around it, is no version information.
    EXPECT_EQ(file_version_of(QByteArray(reinterpret_cast<const char*>(u"xxxVS_VERSION_INFO"), 36)), "0.0.0.0");
    EXPECT_EQ(file_version(QString::fromStdString(dir.file("missing"))), "0.0.0.0");
}

TEST(AboutBox, ShowsVersionFromTheProgramFile) {
    Tform6 about(QStringLiteral(ULEN3_PROGRAM));
    EXPECT_EQ(about.windowTitle(), "О программе");
    about.show();
    EXPECT_EQ(about.versionText(), "Версия 1.0.1.0");
    about.close();
    Tform6 none(QStringLiteral("/nonexistent"));
    none.show();
    EXPECT_EQ(none.versionText(), "Версия 0.0.0.0");
}

TEST(Splash, ClosesByItself) {
    TForm5 splash(nullptr, 200);
    EXPECT_EQ(splash.size(), QSize(400, 77));
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(splash.exec(), QDialog::Accepted);
    EXPECT_GE(t.elapsed(), 100); // not at once; the exact interval is the timer's business
    EXPECT_EQ(TForm5::picture().size(), QSize(400, 78));
}

TEST(Help, PagesBesideTheProgramComeFirst) {
    TempDir dir;
    EXPECT_EQ(help_contents(QString::fromStdString(dir.path())), QString());
    const QString program = QFileInfo(QStringLiteral(ULEN3_PROGRAM)).absolutePath();
    EXPECT_TRUE(help_contents(program).endsWith("ulen3.help/index.html"));
}

// Missing help is said through the program's dialogs, so nothing waits for a person.
TEST(Help, MissingHelpIsSaidInAWarningBox) {
    test::ScriptedDialogs boxes;
    TempDir dir;
    show_help(nullptr, boxes, QString::fromStdString(dir.path()));
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_TRUE(boxes.asked[0].startsWith("warning|Помощь|Не найден файл справки")) << boxes.asked[0].toStdString();
}

} // namespace

namespace {

// Values whose lengths reach past their block are not read: no version, and nothing beyond.
TEST(FileVersion, CraftedBlocksAreNotReadPastTheirEnd) {
    QByteArray bytes(200, '\0');
    const QByteArray key = QByteArray::fromRawData(reinterpret_cast<const char*>(u"VS_VERSION_INFO"), 30);
    bytes.replace(6, 30, key);
    const auto put = [&](int at, int v) {
        bytes[at] = static_cast<char>(v);
        bytes[at + 1] = static_cast<char>(v >> 8);
    };
    put(0, 120); // the block's length
    put(2, 52);  // the fixed information's length
    put(40, 0x04BD);
    put(42, 0xFEEF);
    EXPECT_EQ(file_version_of(bytes), "0.0.0.0");
    put(2, 60000); // a value far longer than the block
    EXPECT_EQ(file_version_of(bytes), "0.0.0.0");
    EXPECT_EQ(file_version_of(bytes.left(40)), "0.0.0.0");
}

} // namespace
