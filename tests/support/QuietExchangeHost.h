#pragma once

// An exchange host without a window or a port: it ignores what the exchange shows and sends and
// keeps only how the exchange finished. For measuring and fuzzing the exchange alone.

#include "link/Exchange.h"

#include <string>

namespace ulen3::test {

class QuietExchangeHost : public ExchangeHost {
public:
    int result = 0;
    void selectPort(const char*) override {}
    void openPort() override {}
    void closePort() override {}
    void sendByte(char) override {}
    void startReplyTimer() override {}
    void stopReplyTimer() override {}
    void clearInformation() override {}
    void showStatus(ExchangeStatus) override {}
    void showProgress(int) override {}
    void showIdentification(const std::string&, const std::string&) override {}
    void showRecordCount(unsigned) override {}
    void showError(const std::string&, const std::string&) override {}
    void finish(int r) override { result = r; }
};

} // namespace ulen3::test
