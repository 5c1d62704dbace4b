#pragma once

#include <string>
#include <vector>

namespace ulen3 {

// `ulen3-cli download [--port DEVICE] --image OUT.bin`: the download dialog's exchange without
// windows. Returns the process exit code: 0 only for a complete, valid image.
int cli_download(const std::vector<std::string>& args);

} // namespace ulen3
