#pragma once

// The serial port as the operating system offers it: one small file per platform, so the driver
// above it stays the same everywhere.

#include <cstddef>
#include <cstdint>
#include <string>

namespace ulen3 {

// Line settings in the driver's terms (ordinals of its enumerations).
struct LineSettings {
    std::uint32_t baud = 9600;
    int dataBits = 8; // 5 … 8
    int parity = 0;   // none, odd, even, mark, space
    int stopBits = 0; // 1, 1.5, 2
    int hwFlow = 1;   // none, none with RTS on, RTS/CTS
    bool xonXoff = false;
    bool dtr = true;
    char xonChar = 0x11;
    char xoffChar = 0x13;
};

// Why a port could not be opened, mapped once from the platform's error.
// NotAssigned: the port has no device, neither from the settings nor among the devices present.
enum class PortFailure { None, NotAssigned, NotFound, NoPermission, Busy, NotATerminal, Other };

class SerialDevice {
public:
    SerialDevice() = default;
    ~SerialDevice() { close(); }
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens the device exclusively, in raw mode, reads returning at once with what is waiting.
    bool open(const std::string& path);
    void close();
    // Why the last open failed.
    PortFailure lastFailure() const { return m_failure; }
    bool isOpen() const { return m_fd >= 0; }

    bool apply(const LineSettings& settings);
    bool purge(bool input, bool output);
    // Bytes waiting in the input and output queues; -1 when the device does not say.
    long inputWaiting() const;
    long outputWaiting() const;
    // Bytes moved; 0 when nothing could move now; -1 on a failure of the device.
    long read(char* data, std::size_t count);
    long write(const char* data, std::size_t count);
    // Waits at most ms milliseconds for room to write, without spinning.
    void waitWritable(int ms) const;
    // True when the device has gone: a USB adapter pulled out, the other end of a
    // pseudo-terminal closed.
    bool hungUp() const;

private:
    int m_fd = -1;
    PortFailure m_failure = PortFailure::None;
};

// Where the user chooses another port: the menu command from a download's message, or the
// ports dialog itself, whose own checks must not send the user to it.
enum class PortAdvice { Menu, InPortsDialog };

// What went wrong with a port and what the user can do about it, in Russian; for Busy the program
// holding the device is named when it can be found. NotAssigned names no device: its text is the
// caller's, who knows the port's name.
std::string port_failure_text(PortFailure failure, const std::string& device, PortAdvice advice = PortAdvice::Menu);

} // namespace ulen3
