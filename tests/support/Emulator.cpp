#include "support/Emulator.h"

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace ulen3::test {

Emulator::Emulator(const std::string& image, const std::vector<std::string>& options) {
    int out[2];
    if (::pipe(out) != 0)
        throw std::runtime_error("pipe");
    std::vector<std::string> args = {ULEN3_EMU, "serve", image};
    args.insert(args.end(), options.begin(), options.end());
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    // The first line of its output is the terminal's path.
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n')
        m_device += c;
    ::close(out[0]);
    if (m_device.empty())
        throw std::runtime_error("ulen3-emu did not start");
}

int Emulator::wait() {
    int status = 0;
    if (m_pid > 0 && ::waitpid(m_pid, &status, 0) == m_pid) {
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return -1;
}

void Emulator::kill() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }
}

Emulator::~Emulator() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
}

} // namespace ulen3::test
