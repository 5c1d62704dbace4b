#include "link/DownloadLink.h"

#include "link/ImageArchive.h"
#include "link/PortNames.h"
#include "settings/Settings.h"

#include <QDateTime>
#include <QDir>

#include <algorithm>

namespace ulen3 {

DownloadLink::DownloadLink(DownloadResults& results, int replyTimeoutMs, int stallMs)
    : m_exchange(*this, results), m_stallMs(stallMs) {
    m_settings = &user_settings();
    // The instrument's line: 9600 bit/s, 8 data bits, no parity, 2 stop bits, RTS on, DTR off.
    CommPortDriver1.SetPort(pnCustom);
    CommPortDriver1.SetPortName(QString::fromLatin1(kPortCom1));
    CommPortDriver1.SetStopBits(sb2BITS);
    CommPortDriver1.SetInBufSize(4096);
    CommPortDriver1.SetOutBufSize(4096);
    CommPortDriver1.SetEnableDTROnOpen(false);
    CommPortDriver1.SetOnReceiveData([this](TCommPortDriver* sender, const char* data, std::uint32_t size) {
        CommPortDriver1ReceiveData(sender, data, size);
    });
    CommPortDriver1.SetOnLineLost([this](TCommPortDriver* sender) {
        log(QStringLiteral("устройство %1 пропало").arg(sender->DevicePath()));
        m_stallTimer.stop();
        if (m_draining) {
            // The device went away: nothing more of the old dump can come.
            m_draining = false;
            m_abandoned = false;
            m_quiet.stop();
            m_exchange.start();
            return;
        }
        m_exchange.lineLost(sender->DevicePath().toStdString());
    });
    Timer1.setSingleShot(true);
    Timer1.setInterval(replyTimeoutMs);
    QObject::connect(&Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
    m_stallTimer.setInterval(std::clamp(stallMs / 5, 10, 1000));
    QObject::connect(&m_stallTimer, &QTimer::timeout, [this] { stallTick(); });
    m_quiet.setSingleShot(true);
    m_quiet.setInterval(kDrainQuietMs);
    QObject::connect(&m_quiet, &QTimer::timeout, [this] { drainQuiet(); });
}

void DownloadLink::setSettings(const SettingsStore& settings) {
    m_settings = &settings;
    CommPortDriver1.SetPortSettings(settings);
}

DownloadLink::~DownloadLink() {
    Timer1.stop();
    m_stallTimer.stop();
    m_quiet.stop();
    CommPortDriver1.ClosePort();
}

namespace {

// The port names as the user knows them: COM1, COM2.
QString shown_name(const QString& name) { return name.startsWith(QLatin1String("\\\\.\\")) ? name.mid(4) : name; }

} // namespace

// The exchange log, when the user asked for it: every step with its time, every byte in hex.
void DownloadLink::log(const QString& line) {
    if (!m_log)
        return;
    m_log->write(QStringLiteral("%1 %2\n").arg(m_logClock.elapsed() / 1000.0, 9, 'f', 3).arg(line).toUtf8());
    m_log->flush();
}

void DownloadLink::logEnd(int result) {
    log(result == 1 ? QStringLiteral("приём завершён: образ памяти принят") : QStringLiteral("приём не завершён"));
    log(portReport().replace('\n', QStringLiteral("; ")));
    m_log.reset();
}

void DownloadLink::startDownload() {
    m_tries.clear();
    m_stalled = false;
    m_log.reset();
    m_logPath.clear();
    if (m_settings->read(QStringLiteral("Exchange_log")) == QLatin1String("1")) {
        const QString folder = log_folder();
        QDir().mkpath(folder);
        m_logPath = folder + QStringLiteral("/%1.log").arg(
                                 QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss-zzz")));
        m_log = std::make_unique<QFile>(m_logPath);
        if (!m_log->open(QIODevice::WriteOnly | QIODevice::Text)) {
            m_log.reset();
            m_logPath.clear();
        }
        m_logClock.start();
        log(QStringLiteral("приём данных; линия 9600 бит/с, 8 бит, без чётности, 2 стоповых, RTS вкл., DTR выкл."));
    }
    // An instrument still sending an abandoned dump would answer 'V' with the rest of it: the
    // line is first read until it is quiet, however long that takes.
    if (m_abandoned) {
        CommPortDriver1.SetPortName(m_portOverride.isEmpty() ? m_abandonedPort : m_portOverride);
        if (CommPortDriver1.OpenPort()) {
            m_draining = true;
            showDraining();
            m_quiet.start();
            return;
        }
        m_abandoned = false; // the port is gone: nothing of the old dump can come
    }
    m_exchange.start();
    m_stallTimer.start();
}

// The old dump is over. The exchange opens the port again, which empties its input queue, and
// only then sends 'V'.
void DownloadLink::drainQuiet() {
    if (!m_draining)
        return;
    log(QStringLiteral("линия молчит %1 мс: предыдущая передача окончена").arg(kDrainQuietMs));
    m_draining = false;
    m_abandoned = false;
    CommPortDriver1.ClosePort();
    m_exchange.start();
    m_stallTimer.start();
}

void DownloadLink::cancelDownload() {
    if (m_draining) {
        // The old dump may still be coming: the next download drains again.
        m_draining = false;
        m_quiet.stop();
        CommPortDriver1.ClosePort();
        finish(2);
        return;
    }
    if (m_exchange.active() && m_exchange.lastCommand() == 'N') {
        m_abandoned = true;
        m_abandonedPort = QString::fromLatin1(m_exchange.port());
    }
    m_stallTimer.stop();
    m_exchange.cancel();
}

void DownloadLink::CommPortDriver1ReceiveData(TCommPortDriver*, const char* DataPtr, std::uint32_t DataSize) {
    if (m_draining) {
        m_quiet.start(); // the old reply goes on: wait for quiet again
        return;
    }
    m_lastData.start();
    if (m_log)
        log(QStringLiteral("принято %1: %2")
                .arg(DataSize)
                .arg(QString::fromLatin1(QByteArray(DataPtr, static_cast<int>(DataSize)).toHex(' '))));
    if (!m_tries.empty())
        m_tries.back().answered = true;
    if (m_stalled) {
        m_stalled = false;
        showStall(0);
    }
    const char command = m_exchange.lastCommand();
    m_exchange.received(DataPtr, DataSize);
    if (command == 'V' && m_exchange.lastCommand() == 'N')
        m_answered = CommPortDriver1.DevicePath();
    if (!m_exchange.active())
        m_stallTimer.stop();
}

// Only a dump that has begun stalls; before it the reply timer watches the line.
void DownloadLink::stallTick() {
    if (!m_exchange.active() || m_exchange.lastCommand() != 'N' || m_exchange.timerRunning() || !m_lastData.isValid())
        return;
    const qint64 quiet = m_lastData.elapsed();
    if (quiet >= m_stallMs) {
        m_stalled = true;
        showStall(static_cast<int>(std::max<qint64>(1, quiet / 1000)));
    }
}

void DownloadLink::Timer1Timer() {
    log(QStringLiteral("нет ответа"));
    m_exchange.timerExpired();
}

void DownloadLink::selectPort(const char* name) {
    CommPortDriver1.SetPortName(m_portOverride.isEmpty() ? QString::fromLatin1(name) : m_portOverride);
    m_tries.push_back({QString::fromLatin1(name), {}, PortFailure::None, false, false, false});
}

// The results of open and send do not change the exchange: a port that is not there gives no
// answer, and the reply timer deals with that. What happened is kept for the messages.
void DownloadLink::openPort() {
    const bool opened = CommPortDriver1.OpenPort();
    if (!m_tries.empty()) {
        m_tries.back().tried = true;
        m_tries.back().device = CommPortDriver1.DevicePath();
        m_tries.back().failure = opened ? PortFailure::None : CommPortDriver1.LastFailure();
        log(QStringLiteral("порт %1 (%2): %3")
                .arg(shown_name(m_tries.back().name), m_tries.back().device,
                     opened ? QStringLiteral("открыт")
                            : QString::fromStdString(
                                  port_failure_text(m_tries.back().failure, m_tries.back().device.toStdString()))));
    }
    m_lastData.invalidate();
}

void DownloadLink::closePort() { CommPortDriver1.ClosePort(); }
void DownloadLink::sendByte(char command) {
    log(QStringLiteral("послано '%1'").arg(QLatin1Char(command)));
    if (!CommPortDriver1.WriteOneByte(command) && !m_tries.empty())
        m_tries.back().unsent = true;
    if (command == 'N')
        m_lastData.start();
}
void DownloadLink::startReplyTimer() { Timer1.start(); }
void DownloadLink::stopReplyTimer() { Timer1.stop(); }

QString DownloadLink::portReport() const {
    QStringList lines;
    for (const PortTry& t : m_tries) {
        if (!t.tried)
            continue;
        const QString name = shown_name(t.name);
        if (t.failure == PortFailure::NotAssigned) {
            // A port without a device has nothing more to say, unless there is no port at all.
            lines << (serial_devices_present().isEmpty()
                          ? QStringLiteral(
                                "%1 не назначен: последовательных портов не найдено; подключите USB-переходник "
                                "или выберите порт в «Сервис → Порты прибора…».")
                                .arg(name)
                          : QStringLiteral("%1 не назначен.").arg(name));
            continue;
        }
        QString what;
        if (t.failure != PortFailure::None)
            what = QString::fromStdString(port_failure_text(t.failure, t.device.toStdString()));
        else if (t.answered)
            what = QStringLiteral("прибор ответил");
        else if (t.unsent)
            what = QStringLiteral("открыт, но команда прибору не ушла: порт не принимает данные (проверьте кабель "
                                  "и переходник)");
        else
            what = QStringLiteral("открыт, но прибор не ответил за 3 с: проверьте, что прибор включён и кабель "
                                  "подключён к этому порту");
        lines << QStringLiteral("%1 (%2): %3.").arg(name, t.device, what);
    }
    return lines.join('\n');
}

} // namespace ulen3
