#pragma once

#include <string>
#include <string_view>

namespace ulen3 {

// Windows-1251, the code page of every text in a table file. The byte tables
// are derived once from ICU's converter; text in the program is UTF-8.

// Bytes of Windows-1251 to UTF-8. Bytes the code page leaves undefined become U+FFFD.
std::string cp1251_to_utf8(std::string_view bytes);
// The same written at `out`, which has room for 3 × bytes.size(); returns the end of what it wrote.
char* put_utf8(std::string_view bytes, char* out);

// UTF-8 to Windows-1251. Characters the code page cannot hold become '?';
// invalid UTF-8 sequences become '?' too.
std::string utf8_to_cp1251(std::string_view text);

} // namespace ulen3

namespace ulen3 {
// Bytes of Windows-1251 to UTF-16, for the collation.
std::u16string cp1251_to_utf16(std::string_view bytes);
} // namespace ulen3
