#include "ConsoleDownload.h"

#include <QEventLoop>

#include <cstdio>

namespace ulen3 {

ConsoleDownload::ConsoleDownload(DownloadResults& results, bool verbose)
    : DownloadLink(results), m_verbose(verbose) {}

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
        std::fprintf(stderr, "%s\n", status == ExchangeStatus::Waiting ? exchange_text::kWaiting
                                                                       : exchange_text::kReceiving);
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
    // Errors are always said: a failed download must not look like a quiet success.
    std::fprintf(stderr, "\n%s: %s\n", caption.c_str(), text.c_str());
}

void ConsoleDownload::finish(int result) {
    logEnd(result);
    m_result = result;
}

} // namespace ulen3
