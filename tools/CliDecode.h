#pragma once

#include "decode/ImageDecoder.h"

#include <string>
#include <vector>

namespace ulen3 {

// The decimal separator of the user's locale, as the program's texts use it.
char user_decimal_separator();

// A number option's value: decimal (or 0x hexadecimal) digits only, from `least` to `most`;
// anything else throws with the option's name and its range.
unsigned long number_option(const std::string& option, const std::string& text, unsigned long least,
                            unsigned long most);

// Decodes a downloaded image into a table: a new table file unless append, which adds to an
// existing one. Messages go to stdout. Returns the process exit code.
int decode_into_table(const std::string& tablePath, const DownloadedImage& image, bool append);

// `ulen3-cli decode IMAGE.bin TABLE.db [--append] [--dev-code C --serial S]`.
int cli_decode(const std::vector<std::string>& args);

} // namespace ulen3
