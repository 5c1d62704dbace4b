#pragma once

#include <string>
#include <vector>

namespace ulen3 {

// `ulen3-cli chart TABLE.db OUT.png|OUT.svg|OUT.pdf [--page …] [--x order|time]
// [--width PX --height PX]`: the chart of the window «График», drawn without a display.
int cli_chart(const std::vector<std::string>& args);

} // namespace ulen3
