// The serial port on Linux: termios2 through ioctl, so any bit rate can be set.

#include "link/SerialDevice.h"

#include <asm/termbits.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
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
    static const struct {
        std::uint32_t baud;
        tcflag_t code;
    } codes[] = {{110, B110},     {300, B300},     {600, B600},       {1200, B1200},
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
    m_failure = PortFailure::None;
    if (path.empty()) {
        m_failure = PortFailure::NotAssigned;
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_failure = errno == ENOENT || errno == ENODEV || errno == ENXIO || errno == ENOTDIR ? PortFailure::NotFound
                    : errno == EACCES || errno == EPERM                                      ? PortFailure::NoPermission
                    : errno == EBUSY                                                         ? PortFailure::Busy
                                                                                             : PortFailure::Other;
        return false;
    }
    // Only a terminal device is a port; exclusive against other programs that honour the
    // advisory lock, and against any later open through TIOCEXCL.
    if (!::isatty(fd)) {
        ::close(fd);
        m_failure = PortFailure::NotATerminal;
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ioctl(fd, TIOCEXCL) != 0) {
        ::close(fd);
        m_failure = PortFailure::Busy;
        return false;
    }
    m_fd = fd;
    return true;
}

namespace {

// The program that has the device open, as "name (PID n)", or empty.
std::string holder_of(const std::string& device) {
    char wanted[PATH_MAX];
    if (!::realpath(device.c_str(), wanted))
        return {};
    const std::string self = std::to_string(::getpid());
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return {};
    std::string found;
    while (dirent* e = ::readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9' || self == e->d_name)
            continue;
        const std::string fdDir = std::string("/proc/") + e->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue;
        while (dirent* f = ::readdir(fds)) {
            char target[PATH_MAX];
            const ssize_t n = ::readlink((fdDir + "/" + f->d_name).c_str(), target, sizeof target - 1);
            if (n > 0 && std::string(target, static_cast<size_t>(n)) == wanted) {
                std::string comm;
                if (FILE* c = std::fopen((std::string("/proc/") + e->d_name + "/comm").c_str(), "r")) {
                    char buf[64] = {};
                    if (std::fgets(buf, sizeof buf, c))
                        comm = buf;
                    std::fclose(c);
                }
                while (!comm.empty() && comm.back() == '\n')
                    comm.pop_back();
                found = (comm.empty() ? std::string("?") : comm) + " (PID " + e->d_name + ")";
                break;
            }
        }
        ::closedir(fds);
        if (!found.empty())
            break;
    }
    ::closedir(proc);
    return found;
}

std::string group_of(const std::string& device) {
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0)
        return "dialout";
    const group* g = ::getgrgid(st.st_gid);
    return g ? g->gr_name : "dialout";
}

} // namespace

bool SerialDevice::hungUp() const {
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

std::string port_failure_text(PortFailure failure, const std::string& device, PortAdvice advice) {
    const std::string name = "«" + device + "»";
    const std::string choose =
        advice == PortAdvice::Menu ? "выберите порт в «Сервис → Порты прибора…»" : "выберите другой порт";
    switch (failure) {
    case PortFailure::None:
        return "открыт";
    case PortFailure::NotAssigned:
        return "не назначен";
    case PortFailure::NotFound:
        return "устройства " + name + " нет: проверьте, что переходник подключён, или " + choose;
    case PortFailure::NoPermission: {
        const std::string group = group_of(device);
        return "нет прав на " + name + ": добавьте себя в группу «" + group + "» (sudo adduser $USER " + group +
               ") и войдите в систему заново";
    }
    case PortFailure::Busy: {
        const std::string holder = holder_of(device);
        std::string text = name + " занят другой программой" + (holder.empty() ? "" : ": " + holder);
        if (holder.rfind("brltty", 0) == 0)
            text += "; служба брайлевских дисплеев brltty забирает USB-переходники, её можно удалить: "
                    "sudo apt remove brltty";
        return text;
    }
    case PortFailure::NotATerminal:
        return name + " не является последовательным портом";
    case PortFailure::Other:
        break;
    }
    return name + " не открывается";
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
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
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
