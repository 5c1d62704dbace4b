#pragma once

#include "ImageDecoder.h"

#include <string>
#include <vector>

namespace ulen3 {

// The decimal separator of the user's locale, as the program's texts use it.
char user_decimal_separator();

// Decodes a downloaded image into a table: a new table file unless append, which adds to an
// existing one. Messages go to stdout. Returns the process exit code.
int decode_into_table(const std::string& tablePath, const DownloadedImage& image, bool append);

// `ulen3-cli decode IMAGE.bin TABLE.db [--append] [--dev-code C --serial S]`.
int cli_decode(const std::vector<std::string>& args);

} // namespace ulen3
