#include "DownloadLink.h"

namespace ulen3 {

DownloadLink::DownloadLink(DownloadResults& results, int replyTimeoutMs)
    : m_exchange(*this, results) {
    // The instrument's line: 9600 bit/s, 8 data bits, no parity, 2 stop bits, RTS on, DTR off.
    CommPortDriver1.SetPort(pnCustom);
    CommPortDriver1.SetPortName(QString::fromLatin1(kPortCom1));
    CommPortDriver1.SetStopBits(sb2BITS);
    CommPortDriver1.SetInBufSize(4096);
    CommPortDriver1.SetOutBufSize(4096);
    CommPortDriver1.SetEnableDTROnOpen(false);
    CommPortDriver1.SetOnReceiveData(
        [this](TCommPortDriver* sender, const char* data, std::uint32_t size) {
            CommPortDriver1ReceiveData(sender, data, size);
        });
    Timer1.setSingleShot(true);
    Timer1.setInterval(replyTimeoutMs);
    QObject::connect(&Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
}

DownloadLink::~DownloadLink() {
    Timer1.stop();
    CommPortDriver1.ClosePort();
}

void DownloadLink::CommPortDriver1ReceiveData(TCommPortDriver*, const char* DataPtr,
                                              std::uint32_t DataSize) {
    m_exchange.received(DataPtr, DataSize);
}

void DownloadLink::Timer1Timer() { m_exchange.timerExpired(); }

void DownloadLink::selectPort(const char* name) {
    CommPortDriver1.SetPortName(m_portOverride.isEmpty() ? QString::fromLatin1(name)
                                                         : m_portOverride);
}

// The results of open and send are not examined: a port that is not there gives no answer, and
// the reply timer deals with that.
void DownloadLink::openPort() { CommPortDriver1.OpenPort(); }
void DownloadLink::closePort() { CommPortDriver1.ClosePort(); }
void DownloadLink::sendByte(char command) { CommPortDriver1.WriteOneByte(command); }
void DownloadLink::startReplyTimer() { Timer1.start(); }
void DownloadLink::stopReplyTimer() { Timer1.stop(); }

} // namespace ulen3
