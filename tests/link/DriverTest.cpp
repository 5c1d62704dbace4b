// The serial driver's property rules and its traffic over a real pseudo-terminal.

#include "link/CPDrv.h"
#include "link/PortNames.h"
#include "settings/Settings.h"
#include "support/TempDir.h"
#include "support/UserKey.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace ulen3;

namespace {

// A pseudo-terminal pair: the test plays the instrument on the master side.
class Pty {
public:
    Pty() {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(m_master);
        ::unlockpt(m_master);
        m_slavePath = ::ptsname(m_master);
        // Hold the terminal open in raw mode, as the emulator does, so nothing echoes.
        m_slave = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(m_slave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_slave, TCSANOW, &t);
        ::fcntl(m_master, F_SETFL, O_NONBLOCK);
    }
    ~Pty() {
        ::close(m_slave);
        ::close(m_master);
    }
    QString path() const { return QString::fromStdString(m_slavePath); }
    int master() const { return m_master; }
    termios slaveSettings() const {
        termios t{};
        ::tcgetattr(m_slave, &t);
        return t;
    }
    void send(const std::string& s) { ASSERT_EQ(::write(m_master, s.data(), s.size()), ssize_t(s.size())); }
    std::string take() {
        std::string got;
        char buf[4096];
        ssize_t n;
        while ((n = ::read(m_master, buf, sizeof buf)) > 0)
            got.append(buf, n);
        return got;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_slavePath;
};

// Runs the event loop until the condition holds or two seconds pass.
template <class Cond> bool spin_until(Cond cond) {
    QElapsedTimer t;
    t.start();
    while (!cond() && t.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return cond();
}

TEST(DriverProperties, DefaultsAndClamping) {
    TCommPortDriver d;
    EXPECT_EQ(d.Port(), pnCOM2);
    EXPECT_EQ(d.PortName(), "\\\\.\\COM2");
    EXPECT_EQ(d.BaudRate(), br9600);
    EXPECT_EQ(d.BaudRateValue(), 9600u);
    EXPECT_EQ(d.DataBits(), db8BITS);
    EXPECT_EQ(d.StopBits(), sb1BITS);
    EXPECT_EQ(d.Parity(), ptNONE);
    EXPECT_EQ(d.HwFlow(), hfNONERTSON);
    EXPECT_EQ(d.SwFlow(), sfNONE);
    EXPECT_EQ(d.InBufSize(), 2048u);
    EXPECT_EQ(d.OutBufSize(), 2048u);
    EXPECT_EQ(d.PollingDelay(), 50);
    EXPECT_TRUE(d.EnableDTROnOpen());
    EXPECT_EQ(d.OutputTimeout(), 500);

    d.SetInBufSize(100);
    EXPECT_EQ(d.InBufSize(), 128u);
    d.SetInBufSize(10000);
    EXPECT_EQ(d.InBufSize(), 8192u);
    d.SetOutBufSize(100);
    EXPECT_EQ(d.OutBufSize(), 128u);
    d.SetOutBufSize(10000);
    EXPECT_EQ(d.OutBufSize(), 8192u);
    d.SetPollingDelay(0);
    EXPECT_EQ(d.PollingDelay(), 5);

    d.SetPort(pnCOM3);
    EXPECT_EQ(d.PortName(), "\\\\.\\COM3");
    d.SetPortName("/dev/ttyUSB7");
    EXPECT_EQ(d.Port(), pnCustom);
    d.SetPort(pnCustom);
    EXPECT_EQ(d.PortName(), "/dev/ttyUSB7");

    d.SetBaudRate(br19200);
    EXPECT_EQ(d.BaudRateValue(), 19200u);
    d.SetBaudRateValue(9600);
    EXPECT_EQ(d.BaudRate(), brCustom);
    EXPECT_EQ(baud_rate_value(br256000), 256000u);
}

TEST(DriverProperties, ClosedPortResults) {
    TCommPortDriver d;
    EXPECT_FALSE(d.IsOpen());
    EXPECT_FALSE(d.WriteOneByte('V'));
    EXPECT_EQ(d.WriteBlock("abc", 3, 10), 0u);
    EXPECT_EQ(d.OutputRoom(), 0xFFFF);
    EXPECT_FALSE(d.PurgePort(true, true));
    EXPECT_FALSE(d.ApplyLineSettings());
    d.ClosePort();
    EXPECT_FALSE(d.IsOpen());
}

TEST(DriverProperties, FailedOpenKeepsTheDriverClosedAndItsSettings) {
    ulen3::test::TempDir dir;
    TCommPortDriver d;
    d.SetPortName(QString::fromStdString(dir.file("no-such-port")));
    EXPECT_FALSE(d.OpenPort());
    EXPECT_FALSE(d.IsOpen());
    // A regular file is not a port.
    ulen3::test::write_file(dir.file("plain"), {1, 2, 3});
    d.SetPortName(QString::fromStdString(dir.file("plain")));
    EXPECT_FALSE(d.OpenPort());
    EXPECT_EQ(d.PortName(), QString::fromStdString(dir.file("plain")));
    EXPECT_EQ(d.Port(), pnCustom);
}

TEST(DriverLine, OpenAppliesTheInstrumentsLineSettings) {
    Pty pty;
    TCommPortDriver d;
    d.SetPortName(pty.path());
    d.SetStopBits(sb2BITS);
    d.SetEnableDTROnOpen(false);
    ASSERT_TRUE(d.OpenPort());
    const termios t = pty.slaveSettings();
    EXPECT_EQ(cfgetospeed(&t), B9600);
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & PARENB);
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_iflag & (IXON | ICRNL | INPCK));
    EXPECT_FALSE(t.c_oflag & OPOST);

    // Line settings are re-applied at once while open. (A pseudo-terminal keeps no parity.)
    d.SetParity(ptEVEN);
    EXPECT_TRUE(d.ApplyLineSettings());
    d.SetSwFlow(sfXONXOFF);
    d.SetBaudRate(br19200);
    const termios u = pty.slaveSettings();
    EXPECT_TRUE(u.c_iflag & IXON);
    EXPECT_EQ(u.c_cc[VSTART], 0x11);
    EXPECT_EQ(u.c_cc[VSTOP], 0x13);
    EXPECT_EQ(cfgetospeed(&u), B19200);
    // Rates without a termios constant are set too.
    d.SetBaudRate(br14400);
    EXPECT_TRUE(d.ApplyLineSettings());

    // One and a half stop bits exist only with five data bits: refused, the port keeps working.
    d.SetStopBits(sb1HALFBITS);
    EXPECT_FALSE(d.ApplyLineSettings());
    EXPECT_TRUE(d.IsOpen());
    d.SetDataBits(db5BITS);
    EXPECT_TRUE(d.ApplyLineSettings());
}

TEST(DriverLine, ConnectionSettingsCannotChangeWhileOpen) {
    Pty pty;
    TCommPortDriver d;
    d.SetPortName(pty.path());
    ASSERT_TRUE(d.OpenPort());
    d.SetPortName("/dev/elsewhere");
    d.SetPort(pnCOM1);
    d.SetInBufSize(4096);
    d.SetOutBufSize(4096);
    EXPECT_EQ(d.PortName(), pty.path());
    EXPECT_EQ(d.Port(), pnCustom);
    EXPECT_EQ(d.InBufSize(), 2048u);
    EXPECT_EQ(d.OutBufSize(), 2048u);
    // Opening an open port changes nothing.
    EXPECT_TRUE(d.OpenPort());
    EXPECT_TRUE(d.WriteOneByte('V'));
    EXPECT_EQ(pty.take(), "V");
    EXPECT_EQ(d.OutputRoom(), 2048);
    d.ClosePort();
    EXPECT_FALSE(d.IsOpen());
    // Closed again, the settings may change.
    d.SetInBufSize(4096);
    EXPECT_EQ(d.InBufSize(), 4096u);
}

TEST(DriverLine, SecondOpenOfAPortInUseFails) {
    Pty pty;
    TCommPortDriver first, second;
    first.SetPortName(pty.path());
    second.SetPortName(pty.path());
    ASSERT_TRUE(first.OpenPort());
    EXPECT_FALSE(second.OpenPort());
    first.ClosePort();
    // Released on close.
    EXPECT_TRUE(second.OpenPort());
}

TEST(DriverLine, WaitingBytesArriveInOrderAtMostInBufSizePerEvent) {
    Pty pty;
    TCommPortDriver d;
    d.SetPortName(pty.path());
    d.SetInBufSize(128);
    d.SetPollingDelay(5);
    std::string got;
    std::size_t largest = 0, events = 0;
    d.SetOnReceiveData([&](TCommPortDriver* sender, const char* data, std::uint32_t size) {
        EXPECT_EQ(sender, &d);
        got.append(data, size);
        largest = std::max<std::size_t>(largest, size);
        ++events;
    });
    // What waited before the open is purged: nothing of an earlier exchange arrives.
    pty.send("stale");
    ASSERT_TRUE(d.OpenPort());
    std::string sent;
    for (int i = 0; i < 1000; ++i)
        sent += std::to_string(i) + ',';
    pty.send(sent);
    ASSERT_TRUE(spin_until([&] { return got.size() >= sent.size(); }));
    EXPECT_EQ(got, sent);
    EXPECT_LE(largest, 128u);
    EXPECT_GE(events, sent.size() / 128);
}

TEST(DriverLine, HandlerMayCloseThePort) {
    Pty pty;
    TCommPortDriver d;
    d.SetPortName(pty.path());
    int events = 0;
    d.SetOnReceiveData([&](TCommPortDriver* sender, const char*, std::uint32_t) {
        ++events;
        sender->ClosePort();
    });
    ASSERT_TRUE(d.OpenPort());
    pty.send("P");
    ASSERT_TRUE(spin_until([&] { return events == 1; }));
    pty.send("more");
    spin_until([] { return false; }); // nothing more is delivered once closed
    EXPECT_EQ(events, 1);
    EXPECT_FALSE(d.IsOpen());
}

TEST(DriverLine, WriteGivesUpAfterTheTimeOutWithoutProgress) {
    Pty pty;
    TCommPortDriver d;
    d.SetPortName(pty.path());
    ASSERT_TRUE(d.OpenPort());
    // Nobody reads the other side: the terminal's queue fills and the write stops.
    const std::string block(4 << 20, 'x');
    QElapsedTimer t;
    t.start();
    const std::uint32_t written = d.WriteBlock(block.data(), block.size(), 100);
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, block.size());
    EXPECT_GE(t.elapsed(), 100);
}

TEST(PortNames, SettingsNameTheDevices) {
    MemorySettings settings;
    settings.write("COM2", "/dev/ttyUSB3");
    EXPECT_EQ(serial_device_for("\\\\.\\COM2", settings), "/dev/ttyUSB3");
    EXPECT_EQ(serial_device_for("/dev/pts/9", settings), "/dev/pts/9");
    // Without a setting, the n-th device present.
    const QStringList present = serial_devices_present();
    EXPECT_EQ(serial_device_for("\\\\.\\COM1", settings), present.isEmpty() ? QString() : present[0]);
    EXPECT_EQ(serial_device_for("\\\\.\\COM99", settings), QString());
}

// The settings key on a disk that refuses it: the write says so and the older file stays whole.
TEST(UserSettingsStore, AKeyThatCannotBeWrittenSaysSoAndKeepsTheOlderFile) {
    ulen3::test::TempDir dir;
    UserSettings store;
    // The configuration folder is a file: nothing can be kept, and nothing is pretended.
    ulen3::test::write_file(dir.file("plain"), {'x'});
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.file("plain")));
    EXPECT_FALSE(store.write("Default_dir", "/home/lab"));
    EXPECT_TRUE(store.location().startsWith(QString::fromStdString(dir.file("plain"))));

    // A file-size limit cuts the rewrite of a key that already holds values.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir.path()));
    ASSERT_TRUE(store.write("Default_dir", "/home/lab"));
    const std::string file = store.location().toStdString();
    const std::vector<unsigned char> before = ulen3::test::read_file(file);
    ASSERT_FALSE(before.empty());
    {
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved;
        limit.rlim_cur = before.size();
        setrlimit(RLIMIT_FSIZE, &limit);
        const bool kept = store.write("Layout_1", QString(4000, QLatin1Char('a')));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(kept);
    }
    EXPECT_EQ(ulen3::test::read_file(file), before);
    // With room again the next write is kept.
    EXPECT_TRUE(store.write("Last_port", "COM2"));
    EXPECT_EQ(UserSettings().read("Default_dir"), QString("/home/lab"));
    EXPECT_EQ(UserSettings().read("Last_port"), QString("COM2"));
}

} // namespace
