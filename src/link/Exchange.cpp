#include "link/Exchange.h"

#include "decode/ImageDecoder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace ulen3 {

const char* const kPortCom1 = "\\\\.\\COM1";
const char* const kPortCom2 = "\\\\.\\COM2";

namespace exchange_text {
const char* const kCaption = "Прием данных";
const char* const kWaiting = "Ожидание готовности прибора ...";
const char* const kReceiving = "Идет прием информации ...";
const char* const kDeviceName = "ВЕСКОР";
const char* const kNoInstrument = "Прибор не обнаружен! Проверте правильность подключения согласно инструкции!";
const char* const kNoInstrumentCaption = "Ошибка";
const char* const kWrongInstrument = "Вы подключили не тот прибор !";
const char* const kWrongInstrumentCaption = "Error";
const char* const kBadReplyCaption = "Ошибка";
} // namespace exchange_text

namespace {

// Every failure of a received dump ends with the same reassurance.
std::string bad_reply(const std::string& what) {
    return "Ошибка приема данных: " + what + ". Прием прерван, прежний образ памяти прибора не изменён.";
}

std::string number(std::size_t n) { return std::to_string(n); }

} // namespace

std::uint8_t pair_byte(const char* text, std::size_t pos) {
    const unsigned low = static_cast<unsigned char>(text[pos]) - 0x30u;
    const unsigned high = static_cast<unsigned char>(text[pos + 1]) - 0x30u;
    return static_cast<std::uint8_t>(high * 16u + low);
}

std::uint16_t pair_word(const char* text, std::size_t pos) {
    return static_cast<std::uint16_t>(pair_byte(text, pos) | pair_byte(text, pos + 2) << 8);
}

std::size_t first_pos(const char* text, std::size_t length, char c) {
    const void* hit = std::memchr(text, c, std::min(length, kReceiveBufferSize));
    return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - text) : kReceiveBufferSize;
}

std::string version_text(const char* text, std::size_t pos) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02u.%02u.%02u", pair_byte(text, pos + 4), pair_byte(text, pos + 2),
                  pair_byte(text, pos));
    return buf;
}

bool accepted_device_code(std::uint8_t code) { return (code >= 0x30 && code <= 0x36) || code == 0x21; }

Exchange::Exchange(ExchangeHost& host, DownloadResults& results)
    : m_host(host), m_results(results), m_buffer(new char[kReceiveBufferSize]()), m_port(kPortCom1) {}

Exchange::~Exchange() = default;

void Exchange::emptyBuffer() {
    // The old characters stay; only the fill count and what was learnt from them go.
    m_fill = 0;
    m_dumpStart = m_count1 = m_count2 = kUnknown;
    m_rescaleBytes = 0;
    m_rescaleProgress = 0;
}

// Nothing of the current reply survives, and the bar is back at 0.
void Exchange::resetReply() {
    emptyBuffer();
    m_endFlag = false;
    m_progress = 0;
    m_host.showProgress(0);
}

void Exchange::sendCommand(char command) {
    m_lastCommand = command;
    m_host.sendByte(command);
}

void Exchange::startTimer() {
    m_timerRunning = true;
    m_host.startReplyTimer();
}

void Exchange::stopTimer() {
    m_timerRunning = false;
    m_host.stopReplyTimer();
}

void Exchange::start() {
    // A download always starts on COM1, whatever the last one ended on.
    m_port = kPortCom1;
    m_host.selectPort(m_port);
    resetReply();
    m_host.clearInformation();
    m_host.showStatus(ExchangeStatus::Waiting);
    m_active = true;
    m_host.openPort();
    sendCommand('V');
    startTimer();
}

void Exchange::received(const char* data, std::size_t size) {
    if (!m_active || size == 0 || data == nullptr)
        return;
    // Take what fits; the buffer is never overrun.
    const std::size_t taken = std::min(size, kReceiveBufferSize - m_fill);
    char* fresh = m_buffer.get() + m_fill;
    std::memcpy(fresh, data, taken);
    // Look at the new characters, and only those, for the markers.
    for (std::size_t i = 0; i < taken; ++i) {
        switch (fresh[i]) {
        case 'P':
            if (!m_endFlag)
                m_endPos = m_fill + i;
            m_endFlag = true;
            break;
        case 'S':
            stopTimer();
            if (m_lastCommand == 'N' && m_dumpStart == kUnknown)
                m_dumpStart = m_fill + i;
            break;
        case 'Z':
            // Start over: everything received so far, this chunk included, is dropped.
            stopTimer();
            m_endFlag = false;
            emptyBuffer();
            if (m_progress != 0) {
                m_progress = 0;
                m_host.showProgress(0);
            }
            sendCommand('V');
            return;
        default:
            break;
        }
    }
    if (taken < size && !m_endFlag) {
        fail(exchange_text::kBadReplyCaption,
             bad_reply("ответ прибора длиннее " + number(kReceiveBufferSize) + " символов и не завершён"));
        return;
    }
    m_fill += taken;

    if (m_lastCommand == 'V' && m_endFlag && m_endPos > kLongestIdentification) {
        dropStaleReply();
        return;
    }
    if (m_lastCommand == 'V' && m_endFlag) {
        identify();
        return;
    }
    if (m_lastCommand == 'N') {
        trackDump();
        if (m_endFlag)
            complete();
    }
}

// Text this long before a 'P' is no identification (16 characters) but the end of a dump the
// instrument went on sending after an abandoned download: it is dropped, and what followed its
// 'P' is read as the start of the reply. The reply timer starts again for the real answer.
void Exchange::dropStaleReply() {
    const std::size_t after = m_endPos + 1;
    const std::string rest(m_buffer.get() + after, m_fill - after);
    emptyBuffer();
    m_endFlag = false;
    startTimer();
    received(rest.data(), rest.size());
}

void Exchange::identify() {
    using namespace exchange_text;
    // The identification fields take characters 0 to 13; a shorter reply has none of them, and
    // reading on would decode leftovers of an earlier reply.
    if (m_endPos < 14) {
        fail(kWrongInstrumentCaption, kWrongInstrument);
        return;
    }
    // Byte 0 carries nothing the host uses.
    const char* text = m_buffer.get();
    m_results.dev_code = pair_byte(text, 2);
    m_results.soft_ver = version_text(text, 4);
    m_results.dev_serial = pair_word(text, 10);
    if (!accepted_device_code(m_results.dev_code)) {
        fail(kWrongInstrumentCaption, kWrongInstrument);
        return;
    }
    m_host.showIdentification(kDeviceName, m_results.soft_ver);
    m_endFlag = false;
    m_lastCommand = 'N';
    m_host.showStatus(ExchangeStatus::Receiving);
    m_host.sendByte('N');
    // Whatever followed the identification's 'P' in this chunk goes with the reply.
    emptyBuffer();
}

// Progress while the dump arrives: the section counts at the head of each section tell how many
// bytes are to come. Only the newly received characters are looked at.
void Exchange::trackDump() {
    if (m_dumpStart == kUnknown)
        return;
    const char* data = m_buffer.get() + m_dumpStart + 1;
    const std::size_t bytes = (m_fill - m_dumpStart - 1) / 2;
    if (m_count1 == kUnknown && bytes >= 2)
        m_count1 = pair_word(data, 0);
    if (m_count1 != kUnknown && m_count2 == kUnknown) {
        const std::size_t at = 2 + kImageRecordSize * m_count1;
        if (at + 2 <= kFlashImageSize && bytes >= at + 2) {
            m_count2 = pair_word(data, 2 * at);
            m_host.showRecordCount(static_cast<unsigned>(m_count1 + m_count2));
            m_rescaleBytes = bytes;
        }
    }
    // The bar counts against the dump's own length as soon as the counts tell it. The first
    // section's count arrives first: that section fills the bar to 90 % (the second section,
    // the operative records, is usually the small one); once the second count is read, the
    // bar goes on from where it stands to the end of the dump. It never runs backwards and
    // stays below 100 until the dump is complete.
    std::size_t percent = 0;
    if (m_count2 != kUnknown) {
        const std::size_t total = std::min(kFlashImageSize, 4 + kImageRecordSize * (m_count1 + m_count2));
        const std::size_t from = static_cast<std::size_t>(m_rescaleProgress);
        percent = total > m_rescaleBytes
                      ? from + (100 - from) * (std::min(bytes, total) - m_rescaleBytes) / (total - m_rescaleBytes)
                      : 99;
    } else if (m_count1 != kUnknown) {
        percent = bytes * 90 / std::min(kFlashImageSize, 4 + kImageRecordSize * m_count1);
    }
    percent = std::min<std::size_t>(99, percent);
    if (static_cast<int>(percent) > m_progress) {
        m_progress = static_cast<int>(percent);
        m_host.showProgress(m_progress);
    }
    if (m_count2 == kUnknown)
        m_rescaleProgress = m_progress;
}

void Exchange::complete() {
    m_host.closePort();
    m_endFlag = false;
    const char* text = m_buffer.get();
    const std::size_t iP = first_pos(text, m_fill, 'P');
    const std::size_t iS = first_pos(text, m_fill, 'S');
    // The unpacking needs 'S' first and an odd count of at least 3 characters between the marks.
    if (iS > iP) {
        fail(exchange_text::kBadReplyCaption, bad_reply("нет начала данных перед концом дампа"));
        return;
    }
    const std::size_t between = iP - iS - 1;
    if (between < 3 || between % 2 == 0) {
        fail(exchange_text::kBadReplyCaption,
             bad_reply("неверное число символов данных в дампе (" + number(between) + ")"));
        return;
    }
    const std::size_t bytes = (between - 1) / 2;
    if (bytes > kFlashImageSize) {
        fail(exchange_text::kBadReplyCaption,
             bad_reply("прибор передал " + number(bytes) + " байт, больше памяти прибора (" + number(kFlashImageSize) +
                       " байт)"));
        return;
    }
    m_host.showProgress(100);
    // Unpack: image byte k from the two characters at iS + 1 + 2k; the one before 'P' is not data.
    for (std::size_t k = 0, i = iS + 1; k < bytes; ++k, i += 2)
        m_results.flash_image[k] = pair_byte(text, i);
    m_results.image_size = bytes;
    end(1);
}

void Exchange::timerExpired() {
    if (!m_active || !m_timerRunning)
        return;
    stopTimer();
    m_host.closePort();
    if (m_port == kPortCom1) {
        // No answer on COM1: try COM2.
        m_port = kPortCom2;
        m_host.selectPort(m_port);
        m_host.openPort();
        resetReply();
        sendCommand('V');
        startTimer();
        return;
    }
    m_port = kPortCom1;
    m_host.selectPort(m_port);
    resetReply();
    m_host.showError(exchange_text::kNoInstrumentCaption, exchange_text::kNoInstrument);
    end(2);
}

// The cable or the adapter went away: the exchange ends with a word, not with a wait for ever.
void Exchange::lineLost(const std::string& device) {
    if (!m_active)
        return;
    fail(exchange_text::kBadReplyCaption,
         bad_reply("связь с прибором прервана, устройство «" + device + "» пропало (кабель или переходник отключён)"));
}

void Exchange::cancel() {
    if (!m_active)
        return;
    m_host.closePort();
    resetReply();
    end(2);
}

void Exchange::fail(const std::string& caption, const std::string& text) {
    stopTimer();
    m_host.closePort();
    resetReply();
    m_host.showError(caption, text);
    end(2);
}

void Exchange::end(int result) {
    // The dialog's end stops the reply timer, whatever the outcome.
    if (m_timerRunning)
        stopTimer();
    m_active = false;
    m_host.finish(result);
}

} // namespace ulen3
