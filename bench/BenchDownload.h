#pragma once

#include <string>

namespace ulen3 {

// The exchange alone: a full-size dump fed in the chunks a 50 ms poll sees at 9600 bit/s.
int bench_exchange_feed();
// A grid over the 202,000-record table: open, first paint, move to the last record, paint.
int bench_grid(const std::string& tablePath);
// A whole download from ulen3-emu over a pseudo-terminal, unpaced, in this process.
int bench_download(const std::string& dir);

} // namespace ulen3
