#include "table/Cp1251.h"

#include <cstring>

#include <unicode/ucnv.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace ulen3 {
namespace {

struct Cp1251Tables {
    std::array<char32_t, 256> toUnicode{};
    // Byte of each code point below kFromLimit; 0 where the code page has none.
    static constexpr char32_t kFromLimit = 0x2200;
    std::vector<unsigned char> fromUnicode = std::vector<unsigned char>(kFromLimit, 0);
};

// Ask ICU once for the character of each of the 256 bytes.
Cp1251Tables buildTables() {
    Cp1251Tables tables;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open("windows-1251", &status);
    if (U_FAILURE(status))
        throw std::runtime_error("ICU has no converter for windows-1251");
    for (int b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        UChar out[4];
        status = U_ZERO_ERROR;
        ucnv_reset(conv);
        const int32_t n = ucnv_toUChars(conv, out, 4, &byte, 1, &status);
        char32_t cp = 0xFFFD;
        if (U_SUCCESS(status) && n == 1)
            cp = out[0];
        tables.toUnicode[b] = cp;
        if (cp != 0xFFFD && cp < Cp1251Tables::kFromLimit && b >= 0x80)
            tables.fromUnicode[cp] = static_cast<unsigned char>(b);
    }
    ucnv_close(conv);
    return tables;
}

const Cp1251Tables& tables() {
    static const Cp1251Tables t = buildTables();
    return t;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// Decodes one UTF-8 sequence at text[i]; returns U+FFFD for a broken one.
char32_t nextUtf8(std::string_view text, size_t& i) {
    const auto c = static_cast<unsigned char>(text[i++]);
    if (c < 0x80)
        return c;
    int extra = 0;
    char32_t cp = 0;
    if ((c & 0xE0) == 0xC0) {
        extra = 1;
        cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
        extra = 2;
        cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
        extra = 3;
        cp = c & 0x07;
    } else {
        return 0xFFFD;
    }
    for (int k = 0; k < extra; ++k) {
        if (i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            return 0xFFFD;
        cp = (cp << 6) | (static_cast<unsigned char>(text[i++]) & 0x3F);
    }
    return cp;
}

} // namespace

// The UTF-8 bytes of each byte value of the code page (at most three), made once.
struct Utf8OfByte {
    char bytes[256][4];
    uint8_t length[256];
    Utf8OfByte() {
        const auto& t = tables();
        for (int b = 0; b < 256; ++b) {
            std::string u;
            appendUtf8(u, b < 0x80 ? static_cast<char32_t>(b) : t.toUnicode[b]);
            std::memcpy(bytes[b], u.data(), u.size());
            length[b] = static_cast<uint8_t>(u.size());
        }
    }
};

char* put_utf8(std::string_view bytes, char* out) {
    static const Utf8OfByte utf8;
    const char* b = bytes.data();
    const char* const end = b + bytes.size();
    while (b != end) {
        // Eight bytes of plain ASCII at a time, as they are; a text of digits and Latin letters
        // is mostly that.
        uint64_t eight;
        if (end - b >= 8 && (std::memcpy(&eight, b, 8), (eight & 0x8080808080808080u) == 0)) {
            std::memcpy(out, b, 8);
            out += 8;
            b += 8;
            continue;
        }
        const auto u = static_cast<unsigned char>(*b++);
        std::memcpy(out, utf8.bytes[u], 3); // every character of the code page is at most three bytes
        out += utf8.length[u];
    }
    return out;
}

std::string cp1251_to_utf8(std::string_view bytes) {
    std::string out(bytes.size() * 3, '\0');
    out.resize(static_cast<std::size_t>(put_utf8(bytes, out.data()) - out.data()));
    return out;
}

std::string utf8_to_cp1251(std::string_view text) {
    const auto& t = tables();
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const char32_t cp = nextUtf8(text, i);
        if (cp < 0x80) {
            out += static_cast<char>(cp);
            continue;
        }
        const unsigned char b = cp < Cp1251Tables::kFromLimit ? t.fromUnicode[cp] : 0;
        out += b != 0 ? static_cast<char>(b) : '?';
    }
    return out;
}

} // namespace ulen3

namespace ulen3 {

std::u16string cp1251_to_utf16(std::string_view bytes) {
    const auto& t = tables();
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        out[i] = static_cast<char16_t>(t.toUnicode[static_cast<unsigned char>(bytes[i])]);
    return out;
}

} // namespace ulen3
