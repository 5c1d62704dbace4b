#pragma once

// The exchange with a ВЕСКОР instrument: find it on COM1 or COM2, identify it, receive the
// memory dump and unpack it into the memory image. A state machine without windows and without
// clocks: the owner feeds it received chunks and reply-timer expiries and carries out what it
// asks for through ExchangeHost.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ulen3 {

constexpr std::size_t kReceiveBufferSize = 0x40000; // characters
constexpr std::size_t kFlashImageSize = 65536;      // bytes

// What a download leaves behind for the decoder; outlives the dialog.
struct DownloadResults {
    std::array<std::uint8_t, kFlashImageSize> flash_image{}; // bytes beyond a dump keep older contents
    std::size_t image_size = 0;                              // bytes the last complete dump delivered
    std::uint8_t dev_code = 0;
    std::uint16_t dev_serial = 0;
    std::string soft_ver;

    void reset() { *this = DownloadResults(); }
};

// The dialog's names for the first two serial ports.
extern const char* const kPortCom1;
extern const char* const kPortCom2;

// Texts the exchange shows, in one place so tests compare them exactly.
namespace exchange_text {
extern const char* const kCaption;      // "Прием данных"
extern const char* const kWaiting;      // status while waiting for the instrument
extern const char* const kReceiving;    // status while the dump arrives
extern const char* const kDeviceName;   // value of "Тип прибора:"
extern const char* const kNoInstrument; // no answer on either port
extern const char* const kNoInstrumentCaption;
extern const char* const kWrongInstrument;
extern const char* const kWrongInstrumentCaption;
extern const char* const kBadReplyCaption;
} // namespace exchange_text

// Byte from the two nibble characters at pos, pos + 1 (low nibble first).
std::uint8_t pair_byte(const char* text, std::size_t pos);
// 16-bit value from the four characters from pos on (low byte first).
std::uint16_t pair_word(const char* text, std::size_t pos);
// Position of the first c among the first length characters, or kReceiveBufferSize.
std::size_t first_pos(const char* text, std::size_t length, char c);
// "dd.dd.dd" from the bytes at pos + 4, pos + 2 and pos.
std::string version_text(const char* text, std::size_t pos);
// Device type codes of the instruments this program reads.
bool accepted_device_code(std::uint8_t code);

enum class ExchangeStatus { Waiting, Receiving };

// What the exchange asks of its owner: the serial port, the reply timer and the dialog's face.
class ExchangeHost {
public:
    virtual ~ExchangeHost() = default;
    virtual void selectPort(const char* name) = 0;
    virtual void openPort() = 0;
    virtual void closePort() = 0;
    virtual void sendByte(char command) = 0;
    virtual void startReplyTimer() = 0;
    virtual void stopReplyTimer() = 0;

    virtual void clearInformation() = 0;
    virtual void showStatus(ExchangeStatus status) = 0;
    virtual void showProgress(int percent) = 0;
    virtual void showIdentification(const std::string& deviceName, const std::string& version) = 0;
    virtual void showRecordCount(unsigned count) = 0;
    // An error box: the port is already closed and the timer stopped when this is called.
    virtual void showError(const std::string& caption, const std::string& text) = 0;
    // The download is over: 1 success, 2 failure or cancelled.
    virtual void finish(int result) = 0;
};

class Exchange {
public:
    Exchange(ExchangeHost& host, DownloadResults& results);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    void start();                                      // the dialog is shown
    void received(const char* data, std::size_t size); // a chunk from the serial driver
    void timerExpired();                               // the reply timer ran out
    void cancel();                                     // "Отмена"
    void lineLost(const std::string& device);          // the port's device went away

    bool active() const { return m_active; }
    char lastCommand() const { return m_lastCommand; }
    const char* port() const { return m_port; }
    bool timerRunning() const { return m_timerRunning; }

private:
    void emptyBuffer();
    void resetReply();
    void sendCommand(char command);
    void startTimer();
    void stopTimer();
    void identify();
    void dropStaleReply();
    void complete();
    void trackDump();
    void fail(const std::string& caption, const std::string& text);
    void end(int result);

    // The identification reply is 16 characters; a 'P' after more than this many is no answer
    // to 'V'.
    static constexpr std::size_t kLongestIdentification = 64;

    ExchangeHost& m_host;
    DownloadResults& m_results;
    std::unique_ptr<char[]> m_buffer; // the receive buffer, fixed for the life of the exchange
    std::size_t m_fill = 0;
    std::size_t m_endPos = 0; // where the first 'P' of the current reply lies
    bool m_endFlag = false;
    char m_lastCommand = 0;
    const char* m_port;
    bool m_timerRunning = false;
    bool m_active = false;

    // Progress of the dump, read from the characters as they arrive.
    static constexpr std::size_t kUnknown = ~std::size_t(0);
    std::size_t m_dumpStart = kUnknown; // position of the dump's 'S'
    std::size_t m_count1 = kUnknown;
    std::size_t m_count2 = kUnknown;
    int m_progress = 0;
    // Where the bar stood, and how many bytes had come, when the second count was read.
    std::size_t m_rescaleBytes = 0;
    int m_rescaleProgress = 0;
};

} // namespace ulen3
