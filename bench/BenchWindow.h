#pragma once

#include <string>

namespace ulen3 {

// The main window over a large table: open, title clicks, footers, delete, renumber.
int bench_window(const std::string& tablePath, const std::string& configDir);

} // namespace ulen3
