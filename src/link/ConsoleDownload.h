#pragma once

// The download without windows: the exchange runs in a Qt event loop of its own and its face
// is a terminal (identification on stdout, progress and errors on stderr) or nothing at all.

#include "link/DownloadLink.h"

namespace ulen3 {

class ConsoleDownload : public DownloadLink {
public:
    // A dump without a character for `timeoutSeconds` is given up.
    ConsoleDownload(DownloadResults& results, bool verbose, int timeoutSeconds = 60, int stallMs = kStallMs);
    // Runs one whole download; needs a QCoreApplication. Returns 1 on success, 2 otherwise.
    int run();

private:
    void clearInformation() override {}
    void showStatus(ExchangeStatus status) override;
    void showProgress(int percent) override;
    void showIdentification(const std::string& name, const std::string& version) override;
    void showRecordCount(unsigned count) override;
    void showError(const std::string& caption, const std::string& text) override;
    void finish(int result) override;
    void showStall(int seconds) override;

    bool m_verbose;
    int m_timeoutSeconds;
    bool m_timedOut = false;
    int m_result = 2;
};

} // namespace ulen3
