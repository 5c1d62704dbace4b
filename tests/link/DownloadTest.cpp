// The download dialog against the instrument emulator over real pseudo-terminals.

#include "Emulator.h"
#include "SampleImage.h"
#include "Settings.h"
#include "TempDir.h"
#include "receive.h"

#include <QPushButton>
#include <QSettings>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace ulen3;
using ulen3::test::Emulator;

namespace {

constexpr int kShortTimeoutMs = 400;

class DownloadTest : public ::testing::Test {
protected:
    ulen3::test::TempDir dir;
    std::unique_ptr<DownloadResults> results = std::make_unique<DownloadResults>();
    QString errorCaption, errorText;

    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QString::fromStdString(dir.path()));
        // Ports that are not there unless a test names them.
        setPorts(missing(), missing());
    }

    QString missing() const { return QString::fromStdString(dir.file("no-port")); }

    void setPorts(const QString& com1, const QString& com2) {
        set_settings_value("COM1", com1);
        set_settings_value("COM2", com2);
    }

    std::string image(unsigned count1, unsigned count2) {
        const std::string path = dir.file("image.bin");
        ulen3::test::write_file(path, sample_image({.count1 = count1, .count2 = count2}));
        return path;
    }

    // Runs the dialog modally as the Create command does; error boxes are answered at once.
    int runDialog(TForm2& form) {
        form.setErrorBox([this](QWidget*, const QString& caption, const QString& text) {
            errorCaption = caption;
            errorText = text;
        });
        return form.exec();
    }
};

TEST_F(DownloadTest, FullImageArrivesByteForByte) {
    const std::string path = image(2000, 978);
    const auto expected = ulen3::test::read_file(path);
    ASSERT_EQ(expected.size(), 4u + 22 * 2978);
    Emulator emu(path, {"--serial", "4660", "--version", "2.10.31", "--dev-code", "0x33"});
    setPorts(emu.qdevice(), missing());
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    EXPECT_EQ(form.windowTitle(), "Прием данных");
    int maxProgressWhileReceiving = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (form.progress() < 100)
            maxProgressWhileReceiving = std::max(maxProgressWhileReceiving, form.progress());
    });
    watch.start(20);
    ASSERT_EQ(runDialog(form), 1) << errorText.toStdString();
    ASSERT_EQ(results->image_size, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), results->flash_image.begin()));
    EXPECT_EQ(results->dev_code, 0x33);
    EXPECT_EQ(results->dev_serial, 4660);
    EXPECT_EQ(results->soft_ver, "02.10.31");
    EXPECT_EQ(form.deviceType(), "ВЕСКОР");
    EXPECT_EQ(form.softwareVersion(), "02.10.31");
    EXPECT_EQ(form.recordCount(), "2978");
    EXPECT_EQ(form.statusText(), "Идет прием информации ...");
    EXPECT_EQ(form.progress(), 100);
    // The bar moved while the dump arrived.
    EXPECT_GT(maxProgressWhileReceiving, 0);
    EXPECT_FALSE(form.driver().IsOpen());
}

TEST_F(DownloadTest, InstrumentOnCom2IsFoundAfterTheCom1TimeOut) {
    Emulator emu(image(3, 2));
    setPorts(missing(), emu.qdevice());
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    ASSERT_EQ(runDialog(form), 1) << errorText.toStdString();
    EXPECT_EQ(results->image_size, 4u + 22 * 5);
    EXPECT_EQ(form.exchange().port(), std::string(kPortCom2));
}

TEST_F(DownloadTest, WrongInstrumentIsRejected) {
    Emulator emu(image(3, 2), {"--dev-code", "0x2F"});
    setPorts(emu.qdevice(), missing());
    results->image_size = 11;
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_EQ(errorCaption, "Error");
    EXPECT_EQ(errorText, "Вы подключили не тот прибор !");
    EXPECT_EQ(results->dev_code, 0x2F);
    EXPECT_EQ(results->image_size, 11u);
}

TEST_F(DownloadTest, SilenceOnBothPortsThenTheNextDownloadWorks) {
    Emulator silent(image(1, 1), {"--silent"});
    Emulator emu(image(1, 1));
    setPorts(silent.qdevice(), silent.qdevice());
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_EQ(errorCaption, "Ошибка");
    EXPECT_EQ(errorText, "Прибор не обнаружен! Проверте правильность подключения согласно инструкции!");
    // The same dialog downloads again, starting on COM1.
    setPorts(emu.qdevice(), missing());
    errorText.clear();
    EXPECT_EQ(runDialog(form), 1) << errorText.toStdString();
    EXPECT_EQ(results->image_size, 4u + 22 * 2);
}

TEST_F(DownloadTest, RestartDuringTheDumpStillGivesTheWholeImage) {
    const std::string path = image(40, 10);
    Emulator emu(path, {"--restart-after", "300", "--chunk", "64"});
    setPorts(emu.qdevice(), missing());
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    ASSERT_EQ(runDialog(form), 1) << errorText.toStdString();
    const auto expected = ulen3::test::read_file(path);
    ASSERT_EQ(results->image_size, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), results->flash_image.begin()));
}

TEST_F(DownloadTest, CancelDuringAPacedDumpEndsWith2AndKeepsTheImage) {
    Emulator emu(image(2000, 0), {"--pace"});
    setPorts(emu.qdevice(), missing());
    results->flash_image[0] = 0xAB;
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    QTimer::singleShot(600, &form, [&form] {
        form.findChild<QPushButton*>()->click();
    });
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_TRUE(errorText.isEmpty());
    EXPECT_EQ(results->flash_image[0], 0xAB);
    EXPECT_EQ(form.progress(), 0);
    EXPECT_FALSE(form.driver().IsOpen());
}

TEST_F(DownloadTest, CommandLineDownloadWritesTheImage) {
    const std::string path = image(100, 20);
    Emulator emu(path, {"--downloads", "1"});
    int status = -1;
    const std::string out = dir.file("got.bin");
    const std::string text = ulen3::test::run_command(std::string(ULEN3_CLI) + " download --port " +
                                                          emu.device() + " --image " + out + " 2>&1",
                                                      &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(ulen3::test::read_file(out), ulen3::test::read_file(path));
    EXPECT_NE(text.find("Количество записей: 120"), std::string::npos) << text;
    EXPECT_EQ(emu.wait(), 0);
}

TEST_F(DownloadTest, CommandLineFailsWithoutAnInstrument) {
    Emulator emu(image(1, 1), {"--dev-code", "0x37"});
    int status = -1;
    const std::string out = dir.file("got.bin");
    const std::string text = ulen3::test::run_command(std::string(ULEN3_CLI) + " download --port " +
                                                          emu.device() + " --image " + out + " 2>&1",
                                                      &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(text.find("Вы подключили не тот прибор !"), std::string::npos) << text;
    EXPECT_TRUE(ulen3::test::read_file(out).empty());
}

} // namespace
