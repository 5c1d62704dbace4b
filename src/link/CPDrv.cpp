#include "link/CPDrv.h"

#include "link/PortNames.h"
#include "link/SerialDevice.h"
#include "settings/Settings.h"

#include <QLoggingCategory>
#include <QTimerEvent>

#include <algorithm>
#include <chrono>
#include <thread>

// "QT_LOGGING_RULES=ulen3.serial.debug=true" hex-dumps what goes over the line.
Q_LOGGING_CATEGORY(lcSerial, "ulen3.serial", QtWarningMsg)

namespace ulen3 {

namespace {

constexpr std::uint32_t kMinBufSize = 128;
constexpr std::uint32_t kMaxBufSize = 8192;

std::uint32_t clamp_buffer_size(std::uint32_t size) { return std::clamp(size, kMinBufSize, kMaxBufSize); }

std::uint64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

std::uint32_t baud_rate_value(TBaudRate rate) {
    static const std::uint32_t values[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                           14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return values[rate];
}

TCommPortDriver::TCommPortDriver(QObject* parent)
    : QObject(parent), m_device(std::make_unique<SerialDevice>()), m_inBuffer(2048, 0),
      m_portName(QStringLiteral("\\\\.\\COM2")), m_settings(&user_settings()) {}

TCommPortDriver::~TCommPortDriver() { ClosePort(); }

void TCommPortDriver::SetPort(TPortNumber port) {
    if (IsOpen())
        return;
    m_port = port;
    if (port != pnCustom)
        m_portName = QStringLiteral("\\\\.\\COM%1").arg(static_cast<int>(port));
}

void TCommPortDriver::SetPortName(const QString& name) {
    if (IsOpen())
        return;
    m_portName = name;
    m_port = pnCustom;
}

void TCommPortDriver::reapply() {
    if (IsOpen())
        ApplyLineSettings();
}

void TCommPortDriver::SetBaudRate(TBaudRate rate) {
    m_baudRate = rate;
    if (rate != brCustom)
        m_baudRateValue = baud_rate_value(rate);
    reapply();
}

void TCommPortDriver::SetBaudRateValue(std::uint32_t bitsPerSecond) {
    m_baudRateValue = bitsPerSecond;
    m_baudRate = brCustom;
    reapply();
}

void TCommPortDriver::SetDataBits(TDataBits bits) {
    m_dataBits = bits;
    reapply();
}
void TCommPortDriver::SetStopBits(TStopBits bits) {
    m_stopBits = bits;
    reapply();
}
void TCommPortDriver::SetParity(TParity parity) {
    m_parity = parity;
    reapply();
}
void TCommPortDriver::SetHwFlow(THwFlowControl flow) {
    m_hwFlow = flow;
    reapply();
}
void TCommPortDriver::SetSwFlow(TSwFlowControl flow) {
    m_swFlow = flow;
    reapply();
}
void TCommPortDriver::SetEnableDTROnOpen(bool enable) { m_enableDtr = enable; }

void TCommPortDriver::SetInBufSize(std::uint32_t size) {
    if (IsOpen())
        return;
    m_inBufSize = clamp_buffer_size(size);
    m_inBuffer.assign(m_inBufSize, 0);
}

void TCommPortDriver::SetOutBufSize(std::uint32_t size) {
    if (IsOpen())
        return;
    m_outBufSize = clamp_buffer_size(size);
}

void TCommPortDriver::SetPollingDelay(std::uint16_t ms) {
    ms = std::max<std::uint16_t>(ms, 5);
    if (ms == m_pollingDelay)
        return;
    m_pollingDelay = ms;
    if (IsOpen())
        m_pollTimer.start(m_pollingDelay, this);
}

bool TCommPortDriver::IsOpen() const { return m_device->isOpen(); }

bool TCommPortDriver::OpenPort() {
    if (IsOpen())
        return true;
    m_devicePath = serial_device_for(m_portName, *m_settings);
    // An empty path is refused by the device too, so that the failure is this port's own.
    if (!m_device->open(m_devicePath.toStdString())) {
        qCDebug(lcSerial) << "cannot open" << m_portName << m_devicePath;
        return false;
    }
    if (!ApplyLineSettings()) {
        qCDebug(lcSerial) << "line settings refused on" << m_devicePath;
        ClosePort();
        return false;
    }
    qCDebug(lcSerial) << "opened" << m_portName << "as" << m_devicePath;
    m_pollTimer.start(m_pollingDelay, this);
    return true;
}

PortFailure TCommPortDriver::LastFailure() const { return m_device->lastFailure(); }

void TCommPortDriver::ClosePort() {
    if (!IsOpen())
        return;
    m_pollTimer.stop();
    m_device->close();
    qCDebug(lcSerial) << "closed" << m_devicePath;
}

bool TCommPortDriver::ApplyLineSettings() {
    if (!IsOpen())
        return false;
    LineSettings s;
    s.baud = m_baudRateValue;
    s.dataBits = static_cast<int>(m_dataBits) + 5;
    s.parity = static_cast<int>(m_parity);
    s.stopBits = static_cast<int>(m_stopBits);
    s.hwFlow = static_cast<int>(m_hwFlow);
    s.xonXoff = m_swFlow == sfXONXOFF;
    s.dtr = m_enableDtr;
    if (!m_device->apply(s))
        return false;
    // Nothing of an earlier exchange reaches the next one. Queue sizes are the kernel's own here.
    return PurgePort(true, true);
}

bool TCommPortDriver::PurgePort(bool input, bool output) { return IsOpen() && m_device->purge(input, output); }

std::uint16_t TCommPortDriver::OutputRoom() const {
    if (!IsOpen())
        return 0xFFFF;
    const long waiting = std::max(0L, m_device->outputWaiting());
    return static_cast<std::uint16_t>(waiting >= long(m_outBufSize) ? 0 : m_outBufSize - waiting);
}

std::uint32_t TCommPortDriver::WriteBlock(const char* data, std::uint32_t count, std::uint32_t timeoutMs) {
    if (!IsOpen())
        return 0;
    std::uint64_t t0 = now_ms();
    std::uint32_t written = 0;
    while (count > 0) {
        const std::uint32_t room = OutputRoom();
        long w = 0;
        if (room > 0)
            w = m_device->write(data, std::min(count, room));
        if (w > 0) {
            qCDebug(lcSerial) << "sent" << QByteArray(data, int(w)).toHex(' ');
            written += w;
            data += w;
            count -= w;
            t0 = now_ms();
            continue;
        }
        // The time-out counts from the last write that made progress.
        const std::uint64_t waited = now_ms() - t0;
        if (w < 0 || waited > timeoutMs)
            break;
        m_device->waitWritable(static_cast<int>(std::min<std::uint64_t>(10, timeoutMs - waited)));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return written;
}

std::uint32_t TCommPortDriver::WriteBytes(const char* data, std::uint32_t count) {
    return WriteBlock(data, count, m_outputTimeout);
}

bool TCommPortDriver::WriteOneByte(char byte) { return WriteBytes(&byte, 1) == 1; }

void TCommPortDriver::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_pollTimer.timerId() && IsOpen())
        poll();
    else
        QObject::timerEvent(event);
}

// One tick: read everything waiting, at most InBufSize, and deliver it in one event.
void TCommPortDriver::poll() {
    const long waiting = m_device->inputWaiting();
    if (waiting <= 0) {
        // Nothing waiting may mean nothing will ever come: the device has gone.
        if (m_device->hungUp()) {
            qCDebug(lcSerial) << "line lost on" << m_devicePath;
            ClosePort();
            if (m_onLineLost)
                m_onLineLost(this);
        }
        return;
    }
    const long got = m_device->read(m_inBuffer.data(), std::min<std::size_t>(std::size_t(waiting), m_inBuffer.size()));
    if (got <= 0)
        return;
    qCDebug(lcSerial) << "received" << QByteArray(m_inBuffer.data(), int(got)).toHex(' ');
    if (m_onReceiveData)
        m_onReceiveData(this, m_inBuffer.data(), static_cast<std::uint32_t>(got));
}

} // namespace ulen3
