// The exchange fed arbitrary characters in arbitrary chunks, with reply-timer expiries between:
// it never reads or writes outside its buffers.

#include "support/QuietExchangeHost.h"

#include <memory>
#include <string>

using namespace ulen3;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static test::QuietExchangeHost host;
    static auto results = std::make_unique<DownloadResults>();
    // One exchange for the run, as one download window keeps its exchange from try to try: start
    // forgets the reply before, and a fresh one would zero its 2 MiB buffer for every input.
    static Exchange exchange(host, *results);
    exchange.start();
    // Each chunk: one byte of length (0 means a timer expiry), then that many characters.
    for (size_t i = 0; i < size;) {
        const size_t n = data[i++];
        if (n == 0) {
            exchange.timerExpired();
            if (!exchange.active())
                exchange.start();
            continue;
        }
        const size_t take = std::min(n, size - i);
        exchange.received(reinterpret_cast<const char*>(data + i), take);
        i += take;
        if (!exchange.active())
            exchange.start();
    }
    exchange.cancel();
    return 0;
}
