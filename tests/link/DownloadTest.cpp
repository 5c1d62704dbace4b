// The download dialog against the instrument emulator over real pseudo-terminals.

#include "SampleImage.h"
#include "link/receive.h"
#include "settings/Settings.h"
#include "support/Emulator.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "support/UserKey.h"

#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "base/File.h"
#include "link/ImageArchive.h"
#include "link/PortNames.h"
#include "link/SerialDevice.h"
#include "table/ObservationTable.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

using namespace ulen3;
using ulen3::test::Emulator;

namespace {

constexpr int kShortTimeoutMs = 400;

class DownloadTest : public ::testing::Test {
protected:
    ulen3::test::TempDir dir;
    std::unique_ptr<DownloadResults> results = std::make_unique<DownloadResults>();
    // The download's error boxes, answered at once.
    struct ErrorBoxes : test::ScriptedDialogs {
        QString caption, text, details;
        void message(QWidget*, BoxIcon, const QString& c, const QString& t, const QString& d) override {
            caption = c;
            text = t;
            details = d;
        }
    } boxes;

    void SetUp() override {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.path()));
        // Kept images go to this test's own data folder.
        qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.file("data")));
        // Ports that are not there unless a test names them.
        setPorts(missing(), missing());
    }

    QString missing() const { return QString::fromStdString(dir.file("no-port")); }

    void setPorts(const QString& com1, const QString& com2) {
        test::set_settings_value("COM1", com1);
        test::set_settings_value("COM2", com2);
    }

    std::string image(unsigned count1, unsigned count2) {
        const std::string path = dir.file("image.bin");
        ulen3::test::write_file(path, sample_image({.count1 = count1, .count2 = count2}));
        return path;
    }

    // Runs the dialog modally as the Create command does; error boxes are answered at once.
    int runDialog(TForm2& form) {
        form.setDialogs(boxes);
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
    ASSERT_EQ(runDialog(form), 1) << boxes.text.toStdString();
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
    ASSERT_EQ(runDialog(form), 1) << boxes.text.toStdString();
    EXPECT_EQ(results->image_size, 4u + 22 * 5);
    EXPECT_EQ(form.exchange().port(), std::string(kPortCom2));
}

TEST_F(DownloadTest, WrongInstrumentIsRejected) {
    Emulator emu(image(3, 2), {"--dev-code", "0x2F"});
    setPorts(emu.qdevice(), missing());
    results->image_size = 11;
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_EQ(boxes.caption, "Error");
    EXPECT_EQ(boxes.text, "Вы подключили не тот прибор !");
    EXPECT_EQ(results->dev_code, 0x2F);
    EXPECT_EQ(results->image_size, 11u);
}

TEST_F(DownloadTest, SilenceOnBothPortsThenTheNextDownloadWorks) {
    Emulator silent(image(1, 1), {"--silent"});
    Emulator emu(image(1, 1));
    setPorts(silent.qdevice(), silent.qdevice());
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_EQ(boxes.caption, "Ошибка");
    EXPECT_EQ(boxes.text, "Прибор не обнаружен! Проверте правильность подключения согласно инструкции!");
    // The same dialog downloads again, starting on COM1.
    setPorts(emu.qdevice(), missing());
    boxes.text.clear();
    EXPECT_EQ(runDialog(form), 1) << boxes.text.toStdString();
    EXPECT_EQ(results->image_size, 4u + 22 * 2);
}

TEST_F(DownloadTest, RestartDuringTheDumpStillGivesTheWholeImage) {
    const std::string path = image(40, 10);
    Emulator emu(path, {"--restart-after", "300", "--chunk", "64"});
    setPorts(emu.qdevice(), missing());
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    ASSERT_EQ(runDialog(form), 1) << boxes.text.toStdString();
    const auto expected = ulen3::test::read_file(path);
    ASSERT_EQ(results->image_size, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), results->flash_image.begin()));
}

TEST_F(DownloadTest, CancelDuringAPacedDumpEndsWith2AndKeepsTheImage) {
    Emulator emu(image(2000, 0), {"--pace"});
    setPorts(emu.qdevice(), missing());
    results->flash_image[0] = 0xAB;
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    QTimer::singleShot(600, &form, [&form] { form.findChild<QPushButton*>()->click(); });
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_TRUE(boxes.text.isEmpty());
    EXPECT_EQ(results->flash_image[0], 0xAB);
    EXPECT_EQ(form.progress(), 0);
    EXPECT_FALSE(form.driver().IsOpen());
}

// Every port tried says what happened to it under the specified message.
TEST_F(DownloadTest, NoInstrumentSaysWhatEachPortDid) {
    const QString file = QString::fromStdString(dir.file("plain.txt"));
    ulen3::test::write_file(file.toStdString(), {'x'});
    setPorts(missing(), file);
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_EQ(boxes.text, "Прибор не обнаружен! Проверте правильность подключения согласно инструкции!");
    EXPECT_TRUE(boxes.details.contains("COM1 (" + missing() + "): устройства «" + missing() + "» нет"))
        << boxes.details.toStdString();
    EXPECT_TRUE(boxes.details.contains("COM2 (" + file + "): «" + file + "» не является последовательным портом"))
        << boxes.details.toStdString();

    // A port another program holds, and one that opens but stays silent.
    Emulator held(image(1, 1));
    Emulator silent(image(1, 1), {"--silent"});
    SerialDevice other;
    ASSERT_TRUE(other.open(held.device()));
    setPorts(held.qdevice(), silent.qdevice());
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_TRUE(boxes.details.contains("«" + held.qdevice() + "» занят другой программой"))
        << boxes.details.toStdString();
    EXPECT_TRUE(boxes.details.contains("COM2 (" + silent.qdevice() + "): открыт, но прибор не ответил"))
        << boxes.details.toStdString();

    // A COM2 without a device says only that, nothing of what COM1 did.
    if (serial_devices_present().size() < 2) {
        setPorts(file, "");
        EXPECT_EQ(runDialog(form), 2);
        const QStringList lines = boxes.details.split('\n');
        ASSERT_EQ(lines.size(), 2) << boxes.details.toStdString();
        EXPECT_EQ(lines[1], serial_devices_present().isEmpty()
                                ? "COM2 не назначен: последовательных портов не найдено; подключите USB-переходник "
                                  "или выберите порт в «Сервис → Порты прибора…»."
                                : "COM2 не назначен.");
    }
}

// A user outside the port's group is told to join it; the test drops to "nobody" to see it.
TEST_F(DownloadTest, APortWithoutPermissionNamesTheGroup) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to drop to another user; run the tests as root to check it";
    Emulator emu(image(1, 1));
    ::chmod(emu.device().c_str(), 0600);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            _exit(100);
        SerialDevice d;
        _exit(d.open(emu.device()) ? 101 : static_cast<int>(d.lastFailure()));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(PortFailure::NoPermission));
    const std::string text = port_failure_text(PortFailure::NoPermission, emu.device());
    EXPECT_NE(text.find("sudo adduser $USER"), std::string::npos) << text;
    EXPECT_NE(text.find("войдите в систему заново"), std::string::npos) << text;
}

// A dump that stops shows so in the status line and goes on when the data comes back.
TEST_F(DownloadTest, AStalledDumpIsShownAndTheStatusReturnsWhenDataFlows) {
    Emulator emu(image(40, 10), {"--pause-after", "300", "--pause-ms", "1500", "--chunk", "50", "--rate", "28800"});
    setPorts(emu.qdevice(), missing());
    TForm2 form(*results, nullptr, kShortTimeoutMs, 300);
    QStringList seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.back() != form.statusText())
            seen << form.statusText();
    });
    watch.start(20);
    ASSERT_EQ(runDialog(form), 1) << boxes.text.toStdString();
    const auto at =
        std::find_if(seen.begin(), seen.end(), [](const QString& s) { return s.startsWith("Нет данных от прибора"); });
    ASSERT_NE(at, seen.end()) << seen.join(" | ").toStdString();
    EXPECT_EQ(*at, "Нет данных от прибора 1 с — проверьте кабель или нажмите «Отмена».");
    EXPECT_TRUE(std::find(at, seen.end(), QString("Идет прием информации ...")) != seen.end())
        << seen.join(" | ").toStdString();
    EXPECT_EQ(results->image_size, 4u + 22 * 50);
}

// "Отмена" in the middle of a dump, then a new download at once: the rest of the old dump is
// read away first, and the instrument is recognised.
TEST_F(DownloadTest, ADownloadRightAfterACancelledOneFindsTheRightInstrument) {
    Emulator emu(image(60, 20), {"--rate", "28800", "--chunk", "32"});
    setPorts(emu.qdevice(), missing());
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (form.progress() > 5)
            for (QPushButton* b : form.findChildren<QPushButton*>())
                if (b->text() == "Отмена")
                    b->click();
    });
    cancel.start(10);
    EXPECT_EQ(runDialog(form), 2);
    cancel.stop();
    QStringList seen;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.back() != form.statusText())
            seen << form.statusText();
    });
    watch.start(10);
    boxes.text.clear();
    EXPECT_EQ(runDialog(form), 1) << boxes.text.toStdString();
    EXPECT_TRUE(seen.contains("Прибор завершает предыдущую передачу …")) << seen.join(" | ").toStdString();
    EXPECT_EQ(results->image_size, 4u + 22 * 80);
    EXPECT_EQ(results->dev_code, 0x21);
}

// A real instrument finishes every dump it began, in bursts about 590 ms apart, and hears
// nothing meanwhile. After "Отмена" the next download waits the whole rest out, showing nothing
// of the previous instrument, and then reads the right identification and the whole image.
// Enter does not cancel a download; Escape does.
TEST_F(DownloadTest, AfterACancelTheRestOfARealInstrumentsDumpIsWaitedOut) {
    const std::string path = image(150, 50);
    Emulator emu(path, {"--stubborn", "--rate", "19200", "--chunk", "1024", "--dev-code", "0x33"});
    setPorts(emu.qdevice(), missing());
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    const QSize size = form.sizeHint();
    QTimer cancel;
    bool enterPressed = false;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (form.progress() > 5 && !enterPressed) {
            enterPressed = true;
            QTest::keyClick(&form, Qt::Key_Return);
        } else if (form.progress() > 15) {
            QTest::keyClick(&form, Qt::Key_Escape);
        }
    });
    cancel.start(10);
    EXPECT_EQ(runDialog(form), 2);
    cancel.stop();
    EXPECT_TRUE(enterPressed);
    EXPECT_EQ(form.deviceType(), "ВЕСКОР");
    QStringList seen;
    bool clearWhileDraining = true;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (form.statusText() == "Прибор завершает предыдущую передачу …")
            clearWhileDraining = clearWhileDraining && form.deviceType().isEmpty() && form.progress() == 0;
        if (seen.isEmpty() || seen.back() != form.statusText())
            seen << form.statusText();
        EXPECT_EQ(form.size(), size) << form.statusText().toStdString();
    });
    watch.start(20);
    boxes.text.clear();
    EXPECT_EQ(runDialog(form), 1) << boxes.text.toStdString();
    EXPECT_TRUE(seen.contains("Прибор завершает предыдущую передачу …")) << seen.join(" | ").toStdString();
    EXPECT_TRUE(clearWhileDraining);
    const auto expected = ulen3::test::read_file(path);
    ASSERT_EQ(results->image_size, expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), results->flash_image.begin()));
    EXPECT_EQ(results->dev_code, 0x33);
}

// The cable pulled in the middle of a dump: a message says so, the port is closed and the image
// is as it was.
TEST_F(DownloadTest, APulledCableEndsTheDownloadWithAWord) {
    Emulator emu(image(60, 20), {"--rate", "19200", "--chunk", "32"});
    setPorts(emu.qdevice(), missing());
    results->image_size = 7;
    results->flash_image[0] = 0x5A;
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    QTimer pull;
    QObject::connect(&pull, &QTimer::timeout, [&] {
        if (form.progress() > 5)
            emu.kill();
    });
    pull.start(10);
    EXPECT_EQ(runDialog(form), 2);
    EXPECT_EQ(boxes.caption, "Ошибка");
    EXPECT_TRUE(boxes.text.contains("связь с прибором прервана")) << boxes.text.toStdString();
    EXPECT_TRUE(boxes.text.contains("прежний образ памяти прибора не изменён")) << boxes.text.toStdString();
    EXPECT_EQ(results->image_size, 7u);
    EXPECT_EQ(results->flash_image[0], 0x5A);
    EXPECT_FALSE(form.driver().IsOpen());
}

// A complete download is kept at once in the user's data folder, named by its identification.
TEST_F(DownloadTest, EveryCompleteImageIsKept) {
    Emulator emu(image(3, 2), {"--serial", "4321", "--dev-code", "0x33"});
    setPorts(emu.qdevice(), missing());
    test::set_settings_value("Exchange_log", "1");
    TForm2 form(*results, nullptr, kShortTimeoutMs);
    ASSERT_EQ(runDialog(form), 1) << boxes.text.toStdString();
    // The opt-in exchange log beside it: the port, the commands, the bytes, the outcome.
    const auto log = ulen3::test::read_file(form.logFile().toStdString());
    const std::string text(log.begin(), log.end());
    EXPECT_NE(text.find("порт COM1 (" + emu.device() + "): открыт"), std::string::npos) << text;
    EXPECT_NE(text.find("послано 'V'"), std::string::npos);
    EXPECT_NE(text.find("послано 'N'"), std::string::npos);
    EXPECT_NE(text.find("принято "), std::string::npos);
    EXPECT_NE(text.find("приём завершён: образ памяти принят"), std::string::npos);
    const QString kept = form.keptImage();
    ASSERT_FALSE(kept.isEmpty());
    EXPECT_TRUE(kept.startsWith(QString::fromStdString(dir.file("data")) + "/ULEN3/images/"));
    EXPECT_TRUE(kept.endsWith("_serial4321_code33.bin")) << kept.toStdString();
    EXPECT_EQ(ulen3::test::read_file(kept.toStdString()), ulen3::test::read_file(dir.file("image.bin")));
    std::uint8_t code = 0;
    std::uint16_t serial = 0;
    ASSERT_TRUE(identification_from_name(kept, code, serial));
    EXPECT_EQ(code, 0x33);
    EXPECT_EQ(serial, 4321);
}

// With ULEN3_TEST_PORT naming a port with an instrument on it, a real download runs.
TEST_F(DownloadTest, RealInstrument) {
    const QString port = qEnvironmentVariable("ULEN3_TEST_PORT");
    if (port.isEmpty())
        GTEST_SKIP() << "set ULEN3_TEST_PORT=/dev/ttyUSB0 (the port of a connected instrument) to run it";
    setPorts(port, missing());
    TForm2 form(*results, nullptr);
    ASSERT_EQ(runDialog(form), 1) << boxes.text.toStdString() << "\n" << boxes.details.toStdString();
    EXPECT_GE(results->image_size, 4u);
}

TEST_F(DownloadTest, CommandLineDownloadWritesTheImage) {
    const std::string path = image(100, 20);
    Emulator emu(path, {"--downloads", "1"});
    int status = -1;
    const std::string out = dir.file("got.bin");
    const std::string text = ulen3::test::run_command(
        std::string(ULEN3_CLI) + " download --port " + emu.device() + " --image " + out + " 2>&1", &status);
    EXPECT_EQ(status, 0) << text;
    EXPECT_EQ(ulen3::test::read_file(out), ulen3::test::read_file(path));
    EXPECT_NE(text.find("Количество записей: 120"), std::string::npos) << text;
    EXPECT_EQ(emu.wait(), 0);
}

TEST_F(DownloadTest, CommandLineFailsWithoutAnInstrument) {
    Emulator emu(image(1, 1), {"--dev-code", "0x37"});
    int status = -1;
    const std::string out = dir.file("got.bin");
    const std::string text = ulen3::test::run_command(
        std::string(ULEN3_CLI) + " download --port " + emu.device() + " --image " + out + " 2>&1", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(text.find("Вы подключили не тот прибор !"), std::string::npos) << text;
    EXPECT_TRUE(ulen3::test::read_file(out).empty());
}

// The command line checks the table before the long download, keeps every complete image as
// the window does and names it when the table then refuses it, says why a port failed, gives up
// a dump that stopped after the stated time, and keeps an image it cannot decode, saying why.
TEST_F(DownloadTest, CommandLineDownloadLosesNothingItReceived) {
    const auto cli = [](const std::string& arguments, int& status) {
        return ulen3::test::run_command("timeout 60 " + std::string(ULEN3_CLI) + " " + arguments + " 2>&1", &status);
    };
    const std::string path = image(30, 5);
    const QString images = QString::fromStdString(dir.file("data")) + "/ULEN3/images";
    int status = -1;

    // A table another program holds, and a new table whose name is taken: refused at once.
    const std::string busy = dir.file("busy.db");
    ulen3::test::write_file(busy, {});
    {
        ObservationTable t;
        t.CreateEmpty(busy);
    }
    File holder;
    FileFailure why;
    ASSERT_TRUE(holder.open(busy, File::Options{}, why));
    Emulator unused(path);
    std::string out = cli("download --port " + unused.device() + " --table " + busy + " --append", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("Файл «" + busy + "» занят другой программой; приём данных не начат"), std::string::npos) << out;
    out = cli("download --port " + unused.device() + " --table " + busy, status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("уже существует и не изменён; чтобы дополнить его, укажите --append; приём данных не начат"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("Тип прибора"), std::string::npos) << "the download started: " << out;
    holder.close();

    // A complete download into a new table: the image is kept first.
    Emulator emu(path, {"--downloads", "1"});
    const std::string table = dir.file("new.db");
    out = cli("download --port " + emu.device() + " --table " + table, status);
    EXPECT_EQ(status, 0) << out;
    const QStringList kept = QDir(images).entryList({"*.bin"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1) << out;
    EXPECT_EQ(ulen3::test::read_file((images + "/" + kept[0]).toStdString()), ulen3::test::read_file(path));
    EXPECT_NE(out.find("Образ памяти сохранён в " + (images + "/" + kept[0]).toStdString()), std::string::npos) << out;

    // A missing port says what happened to it.
    out = cli("download --port " + missing().toStdString() + " --image " + dir.file("none.bin"), status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("COM1 (" + missing().toStdString() + "): устройства «" + missing().toStdString() + "» нет"),
              std::string::npos)
        << out;

    // A dump that stops for good is given up after the stated time.
    Emulator stalled(path, {"--pause-after", "200", "--pause-ms", "60000"});
    out = cli("download --port " + stalled.device() + " --image " + dir.file("stalled.bin") + " --timeout 2", status);
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("Приём прерван: нет данных от прибора 2 с; образ памяти не принят."), std::string::npos) << out;
    EXPECT_FALSE(file_exists(dir.file("stalled.bin")));
    stalled.kill(); // it would sleep out its pause

    // An image whose first section claims more records than the bytes hold: kept, and said.
    const std::string odd = dir.file("odd.bin");
    ulen3::test::write_file(odd, {9, 0, 1, 2, 3, 4, 0, 0});
    Emulator oddEmu(odd, {"--downloads", "1"});
    out = cli("download --port " + oddEmu.device() + " --image " + dir.file("got.bin"), status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(ulen3::test::read_file(dir.file("got.bin")), ulen3::test::read_file(odd));
    EXPECT_NE(out.find("образ памяти записан в " + dir.file("got.bin") + ", но в таблицу не загрузится: "),
              std::string::npos)
        << out;
}

} // namespace

namespace {

// A kept image is written whole or not at all, whatever the disk does.
TEST(ImageArchive, AKeptImageCutAnywhereLeavesNothingHalfWritten) {
    ulen3::test::TempDir dir;
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(dir.file("data")));
    auto results = std::make_unique<DownloadResults>();
    const auto bytes = sample_image({.count1 = 4, .count2 = 2});
    std::copy(bytes.begin(), bytes.end(), results->flash_image.begin());
    results->image_size = bytes.size();
    const QDateTime when(QDate(2026, 12, 9), QTime(13, 45, 10));
    for (std::size_t n = 0; n < bytes.size(); n += 5) {
        WriteFaults faults;
        faults.bytesLeft = static_cast<int64_t>(n);
        set_write_faults(&faults);
        EXPECT_THROW(keep_image(*results, when), std::runtime_error) << n;
        set_write_faults(nullptr);
        EXPECT_TRUE(QDir(image_folder()).entryList(QDir::Files).isEmpty()) << "a part stayed, cut after " << n;
    }
    const QString kept = keep_image(*results, when);
    EXPECT_TRUE(kept.endsWith("2026-12-09_13-45-10_serial0_code00.bin")) << kept.toStdString();
    EXPECT_EQ(ulen3::test::read_file(kept.toStdString()), bytes);
}

} // namespace
