// The serial port on Linux: termios2 through ioctl, so any bit rate can be set.

#include "SerialDevice.h"

#include <asm/termbits.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace ulen3 {

namespace {

// A modem-control line the device cannot drive (a pseudo-terminal) is not a refusal.
bool set_modem_line(int fd, int line, bool on) {
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0)
        return true;
    return errno == ENOTTY || errno == EINVAL;
}

// The classic speed constant for a rate that has one, so that every tool reading the settings
// understands them; any other rate is set as a number.
tcflag_t speed_code(std::uint32_t baud) {
    static const struct { std::uint32_t baud; tcflag_t code; } codes[] = {
        {110, B110},     {300, B300},     {600, B600},       {1200, B1200},
        {2400, B2400},   {4800, B4800},   {9600, B9600},     {19200, B19200},
        {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400}};
    for (const auto& c : codes) {
        if (c.baud == baud)
            return c.code;
    }
    return BOTHER;
}

} // namespace

bool SerialDevice::open(const std::string& path) {
    if (m_fd >= 0)
        return true;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Only a terminal device is a port; exclusive against other programs that honour the
    // advisory lock, and against any later open through TIOCEXCL.
    if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void SerialDevice::close() {
    if (m_fd < 0)
        return;
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
}

bool SerialDevice::apply(const LineSettings& s) {
    if (m_fd < 0 || s.baud == 0 || s.dataBits < 5 || s.dataBits > 8)
        return false;
    // One and a half stop bits exist only with five data bits.
    if (s.stopBits == 1 && s.dataBits != 5)
        return false;
    struct termios2 t {};
    if (::ioctl(m_fd, TCGETS2, &t) != 0)
        return false;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_iflag = s.xonXoff ? (IXON | IXOFF) : 0; // binary: no translation, no parity check
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CREAD | CLOCAL | speed_code(s.baud) | sizes[s.dataBits - 5];
    if (s.stopBits != 0)
        t.c_cflag |= CSTOPB;
    switch (s.parity) {
    case 1: t.c_cflag |= PARENB | PARODD; break;
    case 2: t.c_cflag |= PARENB; break;
    case 3: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (s.hwFlow == 2)
        t.c_cflag |= CRTSCTS;
    if (!s.dtr)
        t.c_cflag &= ~tcflag_t(HUPCL);
    t.c_ispeed = t.c_ospeed = s.baud;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoffChar);
    if (::ioctl(m_fd, TCSETS2, &t) != 0)
        return false;
    // RTS held on unless the line has no flow control at all; DTR as asked.
    if (!set_modem_line(m_fd, TIOCM_RTS, s.hwFlow != 0) || !set_modem_line(m_fd, TIOCM_DTR, s.dtr))
        return false;
    return true;
}

bool SerialDevice::purge(bool input, bool output) {
    if (m_fd < 0)
        return false;
    if (!input && !output)
        return true;
    const int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return ::ioctl(m_fd, TCFLSH, which) == 0;
}

long SerialDevice::inputWaiting() const {
    int n = 0;
    return m_fd >= 0 && ::ioctl(m_fd, FIONREAD, &n) == 0 ? n : -1;
}

long SerialDevice::outputWaiting() const {
    int n = 0;
    return m_fd >= 0 && ::ioctl(m_fd, TIOCOUTQ, &n) == 0 ? n : -1;
}

long SerialDevice::read(char* data, std::size_t count) {
    const ssize_t n = ::read(m_fd, data, count);
    if (n >= 0)
        return n;
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

long SerialDevice::write(const char* data, std::size_t count) {
    const ssize_t n = ::write(m_fd, data, count);
    if (n >= 0)
        return n;
    return errno == EAGAIN || errno == EINTR ? 0 : -1;
}

void SerialDevice::waitWritable(int ms) const {
    pollfd p{m_fd, POLLOUT, 0};
    ::poll(&p, 1, ms);
}

} // namespace ulen3
