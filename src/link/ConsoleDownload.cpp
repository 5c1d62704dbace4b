#include "link/ConsoleDownload.h"

#include <QEventLoop>

#include <cstdio>

namespace ulen3 {

ConsoleDownload::ConsoleDownload(DownloadResults& results, bool verbose, int timeoutSeconds, int stallMs)
    : DownloadLink(results, kReplyTimeoutMs, stallMs), m_verbose(verbose), m_timeoutSeconds(timeoutSeconds) {}

int ConsoleDownload::run() {
    QEventLoop loop;
    m_result = 0;
    startDownload();
    while (m_result == 0)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return m_result;
}

void ConsoleDownload::showStatus(ExchangeStatus status) {
    if (m_verbose)
        std::fprintf(stderr, "%s\n",
                     status == ExchangeStatus::Waiting ? exchange_text::kWaiting : exchange_text::kReceiving);
}

void ConsoleDownload::showProgress(int percent) {
    if (m_verbose && percent > 0)
        std::fprintf(stderr, "\rПринято: %d%%%s", percent, percent == 100 ? "\n" : "");
}

void ConsoleDownload::showIdentification(const std::string& name, const std::string& version) {
    if (m_verbose) {
        std::printf("Тип прибора: %s\nВерсия ПО: %s\n", name.c_str(), version.c_str());
        std::fflush(stdout);
    }
}

void ConsoleDownload::showRecordCount(unsigned count) {
    if (m_verbose) {
        std::printf("Количество записей: %u\n", count);
        std::fflush(stdout);
    }
}

void ConsoleDownload::showError(const std::string& caption, const std::string& text) {
    // Errors are always said: a failed download must not look like a quiet success. Without an
    // instrument, what each port did follows, as the window's box shows it.
    std::fprintf(stderr, "\n%s: %s\n", caption.c_str(), text.c_str());
    if (text == exchange_text::kNoInstrument)
        std::fprintf(stderr, "%s\n", portReport().toStdString().c_str());
}

// A stalled dump is said, as the window says it, and given up after the stated time.
void ConsoleDownload::showStall(int seconds) {
    if (seconds == 0) {
        std::fprintf(stderr, "\nДанные от прибора идут снова.\n");
        return;
    }
    if (seconds >= m_timeoutSeconds && !m_timedOut) {
        m_timedOut = true;
        std::fprintf(stderr, "\nПриём прерван: нет данных от прибора %d с; образ памяти не принят.\n", seconds);
        cancelDownload();
        return;
    }
    std::fprintf(stderr, "\rНет данных от прибора %d с — проверьте кабель; через %d с без данных приём будет прерван.",
                 seconds, m_timeoutSeconds);
}

void ConsoleDownload::finish(int result) {
    logEnd(result);
    m_result = result;
}

} // namespace ulen3
