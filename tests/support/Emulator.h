#pragma once

// ulen3-emu started on a fresh pseudo-terminal for one test, stopped at its end.

#include <QString>

#include <string>
#include <vector>

namespace ulen3::test {

class Emulator {
public:
    // Serves the image file with the extra options; waits until the terminal is there.
    Emulator(const std::string& image, const std::vector<std::string>& options = {});
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    const std::string& device() const { return m_device; }
    QString qdevice() const { return QString::fromStdString(m_device); }
    // Waits for the emulator to end by itself (after --downloads N); returns its exit status.
    int wait();
    // Ends the emulator at once, as a pulled cable does.
    void kill();

private:
    int m_pid = -1;
    std::string m_device;
};

} // namespace ulen3::test
