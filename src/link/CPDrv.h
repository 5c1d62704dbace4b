#pragma once

// TCommPortDriver: owns one serial port. Holds the line settings as properties, opens and closes
// the port, polls it on a timer of the user-interface thread and hands every batch of received
// bytes to its owner through OnReceiveData; writes with a time-out.

#include "link/SerialDevice.h"

#include <QBasicTimer>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace ulen3 {

class SerialDevice;
class SettingsStore;

enum TPortNumber {
    pnCustom,
    pnCOM1,
    pnCOM2,
    pnCOM3,
    pnCOM4,
    pnCOM5,
    pnCOM6,
    pnCOM7,
    pnCOM8,
    pnCOM9,
    pnCOM10,
    pnCOM11,
    pnCOM12,
    pnCOM13,
    pnCOM14,
    pnCOM15,
    pnCOM16
};
enum TBaudRate {
    brCustom,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TDataBits { db5BITS, db6BITS, db7BITS, db8BITS };
enum TStopBits { sb1BITS, sb1HALFBITS, sb2BITS };
enum TParity { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum THwFlowControl { hfNONE, hfNONERTSON, hfRTSCTS };
enum TSwFlowControl { sfNONE, sfXONXOFF };

class TCommPortDriver;
using TReceiveDataEvent = std::function<void(TCommPortDriver* Sender, const char* DataPtr, std::uint32_t DataSize)>;

// Bits per second of a TBaudRate other than brCustom.
std::uint32_t baud_rate_value(TBaudRate rate);

class TCommPortDriver : public QObject {
public:
    explicit TCommPortDriver(QObject* parent = nullptr);
    ~TCommPortDriver() override;

    TPortNumber Port() const { return m_port; }
    void SetPort(TPortNumber port);
    const QString& PortName() const { return m_portName; }
    void SetPortName(const QString& name);
    TBaudRate BaudRate() const { return m_baudRate; }
    void SetBaudRate(TBaudRate rate);
    std::uint32_t BaudRateValue() const { return m_baudRateValue; }
    void SetBaudRateValue(std::uint32_t bitsPerSecond);
    TDataBits DataBits() const { return m_dataBits; }
    void SetDataBits(TDataBits bits);
    TStopBits StopBits() const { return m_stopBits; }
    void SetStopBits(TStopBits bits);
    TParity Parity() const { return m_parity; }
    void SetParity(TParity parity);
    THwFlowControl HwFlow() const { return m_hwFlow; }
    void SetHwFlow(THwFlowControl flow);
    TSwFlowControl SwFlow() const { return m_swFlow; }
    void SetSwFlow(TSwFlowControl flow);
    std::uint32_t InBufSize() const { return m_inBufSize; }
    void SetInBufSize(std::uint32_t size);
    std::uint32_t OutBufSize() const { return m_outBufSize; }
    void SetOutBufSize(std::uint32_t size);
    std::uint16_t PollingDelay() const { return m_pollingDelay; }
    void SetPollingDelay(std::uint16_t ms);
    // Where the port names' devices are configured ("COMn"); the user's key unless set.
    void SetPortSettings(const SettingsStore& settings) { m_settings = &settings; }
    bool EnableDTROnOpen() const { return m_enableDtr; }
    void SetEnableDTROnOpen(bool enable);
    std::uint16_t OutputTimeout() const { return m_outputTimeout; }
    void SetOutputTimeout(std::uint16_t ms) { m_outputTimeout = ms; }
    void SetOnReceiveData(TReceiveDataEvent handler) { m_onReceiveData = std::move(handler); }
    // The device went away while open; the port is closed when this is called.
    void SetOnLineLost(std::function<void(TCommPortDriver*)> handler) { m_onLineLost = std::move(handler); }

    bool OpenPort();
    void ClosePort();
    bool IsOpen() const;
    bool ApplyLineSettings();
    bool PurgePort(bool input, bool output);
    std::uint16_t OutputRoom() const;
    std::uint32_t WriteBlock(const char* data, std::uint32_t count, std::uint32_t timeoutMs);
    std::uint32_t WriteBytes(const char* data, std::uint32_t count);
    bool WriteOneByte(char byte);

    // The device path the last OpenPort tried, for messages and the serial log, and why it
    // failed.
    const QString& DevicePath() const { return m_devicePath; }
    PortFailure LastFailure() const;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    void poll();
    void reapply();

    std::unique_ptr<SerialDevice> m_device;
    QBasicTimer m_pollTimer;
    std::vector<char> m_inBuffer;
    QString m_devicePath;

    TPortNumber m_port = pnCOM2;
    QString m_portName;
    TBaudRate m_baudRate = br9600;
    std::uint32_t m_baudRateValue = 9600;
    TDataBits m_dataBits = db8BITS;
    TStopBits m_stopBits = sb1BITS;
    TParity m_parity = ptNONE;
    THwFlowControl m_hwFlow = hfNONERTSON;
    TSwFlowControl m_swFlow = sfNONE;
    std::uint32_t m_inBufSize = 2048;
    std::uint32_t m_outBufSize = 2048;
    std::uint16_t m_pollingDelay = 50;
    bool m_enableDtr = true;
    std::uint16_t m_outputTimeout = 500;
    TReceiveDataEvent m_onReceiveData;
    std::function<void(TCommPortDriver*)> m_onLineLost;
    const SettingsStore* m_settings;
};

} // namespace ulen3
