#pragma once

// The exchange wired to a real serial port and a reply timer on the user-interface thread.
// The download dialog and the command line derive from it and supply the face of the exchange
// (status, progress, identification, errors, the end).

#include "CPDrv.h"
#include "Exchange.h"

#include <QTimer>

namespace ulen3 {

constexpr int kReplyTimeoutMs = 3000;

class DownloadLink : public ExchangeHost {
public:
    // replyTimeoutMs is shortened only by tests.
    explicit DownloadLink(DownloadResults& results, int replyTimeoutMs = kReplyTimeoutMs);
    ~DownloadLink() override;

    // Every port name the exchange selects opens this device instead (the command line's --port).
    void setPortOverride(const QString& devicePath) { m_portOverride = devicePath; }

    void startDownload() { m_exchange.start(); }
    void cancelDownload() { m_exchange.cancel(); }
    const Exchange& exchange() const { return m_exchange; }
    TCommPortDriver& driver() { return CommPortDriver1; }

protected:
    // Each received chunk and the reply timer's end, handed to the exchange.
    void CommPortDriver1ReceiveData(TCommPortDriver* Sender, const char* DataPtr,
                                    std::uint32_t DataSize);
    void Timer1Timer();

    void selectPort(const char* name) override;
    void openPort() override;
    void closePort() override;
    void sendByte(char command) override;
    void startReplyTimer() override;
    void stopReplyTimer() override;

    TCommPortDriver CommPortDriver1;
    QTimer Timer1;

private:
    QString m_portOverride;
    Exchange m_exchange;
};

} // namespace ulen3
