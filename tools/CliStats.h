#pragma once

#include <string>
#include <vector>

namespace ulen3 {

// `ulen3-cli stats TABLE.db [--json] [--page observation|operative]`: the footers' figures, or
// with --json every figure of P and R as one JSON object.
int cli_stats(const std::vector<std::string>& args);

} // namespace ulen3
