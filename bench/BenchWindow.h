#pragma once

#include <string>

namespace ulen3 {

// The main window over a large table: open, title clicks, footers, delete, renumber.
int bench_window(const std::string& tablePath, const std::string& configDir);
// «График» of a large page: opened and painted, a rubber-band zoom repainted, the memory it adds.
int bench_chart(const std::string& tablePath, const std::string& configDir);
// The observation report of a table: prepared and written as PDF, as ulen3-cli print does.
int bench_print(const std::string& tablePath, const std::string& pdfPath);
// The same report prepared and its first sheet drawn in the preview.
int bench_preview(const std::string& tablePath);

} // namespace ulen3
