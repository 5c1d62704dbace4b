#pragma once

// The exchange wired to a real serial port and a reply timer on the user-interface thread.
// The download dialog and the command line derive from it and supply the face of the exchange
// (status, progress, identification, errors, the end).

#include "link/CPDrv.h"
#include "link/Exchange.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <memory>
#include <vector>

namespace ulen3 {

constexpr int kReplyTimeoutMs = 3000;
// No character for this long after the dump began: the user is told the line is stalled.
constexpr int kStallMs = 5000;
// After a dump was abandoned the instrument goes on sending it, in bursts about 590 ms apart
// for up to two and a half minutes: the next download first waits until the line has been
// quiet for clearly longer than a gap between bursts.
constexpr int kDrainQuietMs = 1500;

class DownloadLink : public ExchangeHost {
public:
    // The time-outs are shortened only by tests.
    explicit DownloadLink(DownloadResults& results, int replyTimeoutMs = kReplyTimeoutMs, int stallMs = kStallMs);
    ~DownloadLink() override;

    // Every port name the exchange selects opens this device instead (the command line's --port).
    void setPortOverride(const QString& devicePath) { m_portOverride = devicePath; }
    // The settings the download reads (the ports' devices, Exchange_log); the user's key unless set.
    void setSettings(const SettingsStore& settings);

    void startDownload();
    void cancelDownload();
    const Exchange& exchange() const { return m_exchange; }
    TCommPortDriver& driver() { return CommPortDriver1; }

    // For each port this download tried, a line: the port, its device, what happened and what
    // to do about it.
    QString portReport() const;
    // The device that last answered as an instrument, or empty.
    QString answeredDevice() const { return m_answered; }
    // The exchange log of the last download, when the setting Exchange_log is 1; else empty.
    QString logFile() const { return m_logPath; }

protected:
    // Each received chunk and the reply timer's end, handed to the exchange.
    void CommPortDriver1ReceiveData(TCommPortDriver* Sender, const char* DataPtr, std::uint32_t DataSize);
    void Timer1Timer();

    void selectPort(const char* name) override;
    void openPort() override;
    void closePort() override;
    void sendByte(char command) override;
    void startReplyTimer() override;
    void stopReplyTimer() override;

    // The dump has had no character for `seconds` (0: data flows again); the line is being
    // drained of an abandoned reply.
    virtual void showStall(int seconds) { (void)seconds; }
    virtual void showDraining() {}
    // The end of a download, for the exchange log.
    void logEnd(int result);

    TCommPortDriver CommPortDriver1;
    QTimer Timer1;

private:
    const SettingsStore* m_settings;
    struct PortTry {
        QString name, device;
        PortFailure failure = PortFailure::None;
        bool tried = false; // opened or tried to be
        bool answered = false;
        bool unsent = false; // a command did not go out in time
    };
    void stallTick();
    void drainQuiet();
    void log(const QString& line);

    QString m_portOverride;
    Exchange m_exchange;
    std::vector<PortTry> m_tries;
    QString m_answered;
    // The stall of a dump.
    QTimer m_stallTimer;
    QElapsedTimer m_lastData;
    int m_stallMs;
    bool m_stalled = false;
    // An abandoned dump may still be on its way on this port.
    bool m_abandoned = false;
    QString m_abandonedPort;
    bool m_draining = false;
    QTimer m_quiet;
    // The opt-in exchange log.
    std::unique_ptr<QFile> m_log;
    QString m_logPath;
    QElapsedTimer m_logClock;
};

} // namespace ulen3
