// ulen3-emu: a ВЕСКОР instrument on a pseudo-terminal, for tests, benchmarks and the demo.
// It answers 'V' with the identification reply and 'N' with a dump of a memory image file, and
// builds sample memory images.

#include "SampleImage.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int) { g_stop = true; }

int usage() {
    std::cerr << "Использование:\n"
                 "  ulen3-emu serve ОБРАЗ.bin [--link ПУТЬ] [--dev-code КОД] [--serial N]\n"
                 "            [--version A.B.C] [--chunk N] [--pace] [--rate БИТ/С] [--restart-after N]\n"
                 "            [--pause-after N --pause-ms M] [--silent]\n"
                 "            [--downloads N] [--stubborn]\n"
                 "      открывает псевдотерминал, печатает путь к нему и отвечает как прибор;\n"
                 "      --pace передаёт со скоростью 9600 бит/с (8N2, 11 бит на символ), --rate с заданной,\n"
                 "      --pause-after N --pause-ms M замолкает на M мс после N символов первого дампа,\n"
                 "      --restart-after N посылает 'Z' после N символов первого дампа,\n"
                 "      --silent молчит, --downloads N завершается после N дампов,\n"
                 "      --stubborn как настоящий прибор: начатый дамп передаёт до конца, не слыша команд и\n"
                 "      теряя то, что никто не читает\n"
                 "  ulen3-emu make-image ОБРАЗ.bin --count1 N --count2 M [--seed S] [--full]\n"
                 "      строит образ памяти с N записями раздела 1 и M записями раздела 2\n";
    return 2;
}

unsigned long number_arg(const char* text) {
    char* end = nullptr;
    errno = 0;
    const unsigned long v = std::strtoul(text, &end, 0);
    if (errno != 0 || end == text || *end != '\0')
        throw std::runtime_error(std::string("неверное число: ") + text);
    return v;
}

struct ServeOptions {
    std::string image;
    std::string link;
    unsigned devCode = 0x21;
    unsigned serial = 1234;
    unsigned version[3] = {15, 3, 7}; // first, second, third number of the version text
    std::size_t chunk = 512;
    bool pace = false;
    unsigned rate = 9600; // bit/s when paced
    long restartAfter = -1;
    long pauseAfter = -1; // the first dump stops this many characters in …
    long pauseMs = 0;     // … for this long, then goes on
    bool silent = false;
    long downloads = -1;
    bool stubborn = false; // a dump once begun goes to its end, heard or not
};

class Instrument {
public:
    Instrument(int master, int slave, const ServeOptions& o, std::vector<unsigned char> image)
        : m_master(master), m_slave(slave), m_o(o), m_dump(ulen3::dump_reply(image)),
          m_id(ulen3::identification_reply(o.devCode, o.serial, o.version)) {}

    // Serves commands until stopped or the downloads are done.
    void run() {
        while (!g_stop && (m_o.downloads < 0 || m_served < m_o.downloads)) {
            if (!m_pending.empty()) {
                const char c = m_pending.front();
                m_pending.erase(m_pending.begin());
                command(c);
                continue;
            }
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 200) <= 0)
                continue;
            readCommands();
        }
        drain();
    }

private:
    // Before the emulator goes away the host must have read all it was sent: closing the
    // terminal would drop what is still queued. Bytes in flight are not counted by the queue
    // until the line discipline has taken them, so the queue must stay empty for a while.
    // A host that stops reading is given up on.
    void drain() {
        using clock = std::chrono::steady_clock;
        int waiting = 0, before = -1;
        auto lastChange = clock::now();
        while (!g_stop && ::ioctl(m_slave, FIONREAD, &waiting) == 0) {
            if (waiting != before)
                before = waiting, lastChange = clock::now();
            else if (clock::now() - lastChange >
                     (waiting == 0 ? std::chrono::milliseconds(300) : std::chrono::milliseconds(2000)))
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void readCommands() {
        char buf[256];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            m_pending.insert(m_pending.end(), buf, buf + n);
    }

    void command(char c) {
        if (m_o.silent)
            return;
        if (c == 'V') {
            send(m_id, -1, false);
        } else if (c == 'N') {
            const long restartAt = m_restartDone ? -1 : m_o.restartAfter;
            if (send(m_dump, restartAt, true)) {
                ++m_served;
            } else if (restartAt >= 0) {
                m_restartDone = true;
            }
            if (m_o.stubborn) {
                // What the host sent during the dump was not heard.
                pollfd p{m_master, POLLIN, 0};
                while (::poll(&p, 1, 0) > 0 && (p.revents & POLLIN))
                    readCommands();
                m_pending.clear();
            }
        }
    }

    // Sends a reply in chunks, paced at 9600 bit/s 8N2 when asked. A 'V' from the host in the
    // middle means it started over: the reply is abandoned. A host that stops reading for two
    // seconds has closed the port: the reply is abandoned and what it did not read is dropped.
    bool send(const std::string& reply, long restartAt, bool dump) {
        using clock = std::chrono::steady_clock;
        auto t0 = clock::now();
        auto lastProgress = t0;
        std::size_t sent = 0;
        const std::size_t end = restartAt >= 0 ? std::min<std::size_t>(restartAt, reply.size()) : reply.size();
        while (sent < end && !g_stop) {
            if (!m_o.stubborn && hostStartedOver())
                return false;
            std::size_t n = std::min(m_o.chunk, end - sent);
            const bool pauseHere = dump && m_pauseLeft && m_o.pauseAfter > 0;
            if (pauseHere && sent < std::size_t(m_o.pauseAfter) && sent + n >= std::size_t(m_o.pauseAfter))
                n = std::size_t(m_o.pauseAfter) - sent;
            if (pauseHere && sent == std::size_t(m_o.pauseAfter)) {
                // The cable is pulled for a while in the middle of the first dump.
                m_pauseLeft = false;
                std::this_thread::sleep_for(std::chrono::milliseconds(m_o.pauseMs));
                t0 += std::chrono::milliseconds(m_o.pauseMs); // the pace goes on from here
                lastProgress = clock::now();
                continue;
            }
            if (m_o.pace) {
                // 11 bit times per character at the line's rate.
                const auto due = t0 + std::chrono::microseconds((sent + n) * 11'000'000ull / m_o.rate);
                std::this_thread::sleep_until(due);
            }
            const ssize_t w = ::write(m_master, reply.data() + sent, n);
            if (w > 0) {
                sent += w;
                lastProgress = clock::now();
                continue;
            }
            if (w < 0 && errno != EAGAIN && errno != EINTR)
                return false;
            if (clock::now() - lastProgress > std::chrono::seconds(2)) {
                ::tcflush(m_slave, TCIFLUSH);
                if (!m_o.stubborn)
                    return false;
                lastProgress = clock::now(); // nobody listens: what was sent is lost, the dump goes on
                continue;
            }
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        if (restartAt >= 0) {
            const char z = 'Z';
            (void)!::write(m_master, &z, 1);
            return false;
        }
        return sent == reply.size();
    }

    bool m_pauseLeft = true;

    bool hostStartedOver() {
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0)
            readCommands();
        for (std::size_t i = 0; i < m_pending.size(); ++i) {
            if (m_pending[i] == 'V') {
                m_pending.erase(m_pending.begin(), m_pending.begin() + i);
                return true;
            }
        }
        return false;
    }

    int m_master;
    int m_slave;
    const ServeOptions& m_o;
    std::string m_dump;
    std::string m_id;
    std::vector<char> m_pending;
    long m_served = 0;
    bool m_restartDone = false;
};

int serve(const ServeOptions& o) {
    std::ifstream in(o.image, std::ios::binary);
    if (!in) {
        std::cerr << "ulen3-emu: не удалось открыть образ " << o.image << "\n";
        return 1;
    }
    std::vector<unsigned char> image((std::istreambuf_iterator<char>(in)), {});

    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("ulen3-emu: posix_openpt");
        return 1;
    }
    const std::string slavePath = ::ptsname(master);
    // The emulator keeps its own end of the terminal open, in raw mode, so that the line keeps
    // its settings between downloads and never echoes what the instrument sends.
    const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (slave < 0 || ::tcgetattr(slave, &t) != 0) {
        std::perror("ulen3-emu: pseudo-terminal");
        return 1;
    }
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    if (!o.link.empty()) {
        ::unlink(o.link.c_str());
        if (::symlink(slavePath.c_str(), o.link.c_str()) != 0) {
            std::perror("ulen3-emu: symlink");
            return 1;
        }
    }
    std::printf("%s\n", slavePath.c_str());
    std::fflush(stdout);

    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
    std::signal(SIGPIPE, SIG_IGN);
    Instrument(master, slave, o, std::move(image)).run();
    // The link goes only if it is still ours: a newer emulator may have taken the name.
    char target[4096] = {};
    if (!o.link.empty() && ::readlink(o.link.c_str(), target, sizeof target - 1) > 0 && slavePath == target)
        ::unlink(o.link.c_str());
    ::close(slave);
    ::close(master);
    return 0;
}

int make_image(int argc, char** argv) {
    if (argc < 3)
        return usage();
    const std::string out = argv[2];
    ulen3::SampleImageOptions o;
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--count1" && i + 1 < argc)
            o.count1 = number_arg(argv[++i]);
        else if (a == "--count2" && i + 1 < argc)
            o.count2 = number_arg(argv[++i]);
        else if (a == "--seed" && i + 1 < argc)
            o.seed = number_arg(argv[++i]);
        else if (a == "--full")
            o.fullMemory = true;
        else
            return usage();
    }
    const std::vector<unsigned char> image = ulen3::sample_image(o);
    const std::string tmp = out + ".tmp";
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    f.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    f.close();
    if (!f || std::rename(tmp.c_str(), out.c_str()) != 0) {
        std::remove(tmp.c_str());
        std::cerr << "ulen3-emu: не удалось записать " << out << "\n";
        return 1;
    }
    return 0;
}

int serve_command(int argc, char** argv) {
    if (argc < 3)
        return usage();
    ServeOptions o;
    o.image = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string a = argv[i];
        const bool more = i + 1 < argc;
        if (a == "--link" && more)
            o.link = argv[++i];
        else if (a == "--dev-code" && more)
            o.devCode = number_arg(argv[++i]) & 0xFF;
        else if (a == "--serial" && more)
            o.serial = number_arg(argv[++i]) & 0xFFFF;
        else if (a == "--version" && more) {
            if (std::sscanf(argv[++i], "%u.%u.%u", &o.version[0], &o.version[1], &o.version[2]) != 3)
                return usage();
        } else if (a == "--chunk" && more)
            o.chunk = std::max(1ul, number_arg(argv[++i]));
        else if (a == "--pace")
            o.pace = true;
        else if (a == "--rate" && more)
            o.pace = true, o.rate = static_cast<unsigned>(std::max(300ul, number_arg(argv[++i])));
        else if (a == "--pause-after" && more)
            o.pauseAfter = static_cast<long>(number_arg(argv[++i]));
        else if (a == "--pause-ms" && more)
            o.pauseMs = static_cast<long>(number_arg(argv[++i]));
        else if (a == "--restart-after" && more)
            o.restartAfter = static_cast<long>(number_arg(argv[++i]));
        else if (a == "--silent")
            o.silent = true;
        else if (a == "--stubborn")
            o.stubborn = true;
        else if (a == "--downloads" && more)
            o.downloads = static_cast<long>(number_arg(argv[++i]));
        else
            return usage();
    }
    return serve(o);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return usage();
    try {
        const std::string cmd = argv[1];
        if (cmd == "serve")
            return serve_command(argc, argv);
        if (cmd == "make-image")
            return make_image(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "ulen3-emu: " << e.what() << "\n";
        return 1;
    }
    return usage();
}
