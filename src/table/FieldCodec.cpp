#include "table/FieldCodec.h"

#include "base/Bytes.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace ulen3 {

namespace {

// Past the spaces at `p`, eight at a time: a number is right-aligned in its field.
const char* skip_spaces(const char* p, const char* end) {
    constexpr uint64_t kEightSpaces = 0x2020202020202020u;
    for (uint64_t eight; end - p >= 8 && (std::memcpy(&eight, p, 8), eight == kEightSpaces);)
        p += 8;
    while (p < end && *p == ' ')
        ++p;
    return p;
}

// Eight bytes as one 64-bit word, the first byte lowest.
uint64_t word_at(const char* at) { return get_le64(reinterpret_cast<const unsigned char*>(at)); }

// Whether all eight bytes are digits.
bool eight_digits(uint64_t word) {
    return ((word & 0xF0F0F0F0F0F0F0F0u) | (((word + 0x0606060606060606u) & 0xF0F0F0F0F0F0F0F0u) >> 4)) ==
           0x3333333333333333u;
}

// The number eight digit bytes write, the first byte the highest digit.
uint64_t eight_digits_value(uint64_t word) {
    word -= 0x3030303030303030u;
    word = word * 10 + (word >> 8);
    return (((word & 0x000000FF000000FFu) * 0x000F424000000064u) +
            (((word >> 16) & 0x000000FF000000FFu) * 0x0000271000000001u)) >>
           32;
}

// One bit for each byte whose top bit `flags` sets, the first byte lowest.
unsigned byte_bits(uint64_t flags) { return static_cast<unsigned>(((flags >> 7) * 0x0102040810204080u) >> 56); }

// The top bit of each byte of `word` that equals `byte`.
uint64_t bytes_equal(uint64_t word, unsigned char byte) {
    const uint64_t t = word ^ (0x0101010101010101u * byte);
    return ~(((t & 0x7F7F7F7F7F7F7F7Fu) + 0x7F7F7F7F7F7F7F7Fu) | t) & 0x8080808080808080u;
}

} // namespace

bool encode_fixed(double value, int width, int decimals, char* out) {
    if (!std::isfinite(value))
        return false;
    char text[64];
    auto res = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (res.ec != std::errc())
        return false;
    int len = static_cast<int>(res.ptr - text);
    // A value that rounds to zero is written without a sign.
    if (text[0] == '-' && std::strspn(text + 1, "0.") == static_cast<size_t>(len - 1)) {
        std::memmove(text, text + 1, static_cast<size_t>(len - 1));
        --len;
    }
    if (len > width)
        return false;
    std::memset(out, ' ', static_cast<size_t>(width - len));
    std::memcpy(out + (width - len), text, static_cast<size_t>(len));
    return true;
}

bool encode_integer(long value, int width, char* out) {
    char digits[32];
    const unsigned long magnitude =
        value < 0 ? 0UL - static_cast<unsigned long>(value) : static_cast<unsigned long>(value);
    auto res = std::to_chars(digits, digits + sizeof digits, magnitude);
    const int len = static_cast<int>(res.ptr - digits);
    const int needed = len + (value < 0 ? 1 : 0);
    if (needed > width)
        return false;
    std::memset(out, ' ', static_cast<size_t>(width));
    if (value < 0)
        out[0] = '-';
    std::memcpy(out + (width - len), digits, static_cast<size_t>(len));
    return true;
}

void encode_text(std::string_view bytes, int width, char* out) {
    const size_t n = bytes.size() < static_cast<size_t>(width) ? bytes.size() : width;
    std::memcpy(out, bytes.data(), n);
    std::memset(out + n, ' ', static_cast<size_t>(width) - n);
}

void encode_blank(int width, char* out) { std::memset(out, ' ', static_cast<size_t>(width)); }

std::string_view trim_number(std::string_view raw, char* scratch) {
    size_t b = 0, e = raw.size();
    while (b < e && raw[b] == ' ')
        ++b;
    while (e > b && raw[e - 1] == ' ')
        --e;
    std::string_view t = raw.substr(b, e - b);
    if (t.size() > 1 && t[0] == '-' && t[1] == ' ') {
        size_t k = 1;
        while (k < t.size() && t[k] == ' ')
            ++k;
        scratch[0] = '-';
        std::memcpy(scratch + 1, t.data() + k, t.size() - k);
        return {scratch, t.size() - k + 1};
    }
    return t;
}

// A decimal number as dBase stores it: an optional sign, digits, an optional point and digits.
// Exponents, "nan", "inf" and anything else are not numbers here.
bool is_decimal_text(std::string_view t) {
    size_t i = 0;
    if (i < t.size() && (t[i] == '-' || t[i] == '+'))
        ++i;
    size_t digits = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
        ++digits;
    if (i < t.size() && t[i] == '.')
        for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
            ++digits;
    return digits > 0 && i == t.size();
}

std::optional<double> decode_number(std::string_view raw) {
    bool short_;
    return decode_number(raw, short_);
}

std::optional<double> decode_number(std::string_view raw, bool& short_) {
    short_ = true;
    if (skip_spaces(raw.data(), raw.data() + raw.size()) == raw.data() + raw.size())
        return std::nullopt;
    DecimalParts parts;
    int64_t billionths;
    if (!read_fixed_point(raw, parts, billionths) && !split_decimal(raw, parts)) {
        short_ = false;
        return 0.0; // not a number: counts as 0
    }
    return decimal_value(parts, short_);
}

std::string_view decode_text(std::string_view raw) {
    const size_t last = raw.find_last_not_of(' ');
    return last == std::string_view::npos ? std::string_view() : raw.substr(0, last + 1);
}

bool split_decimal(std::string_view stored, DecimalParts& parts) {
    const char* p = skip_spaces(stored.data(), stored.data() + stored.size());
    const char* end = stored.data() + stored.size();
    while (end > p && end[-1] == ' ')
        --end;
    parts.negative = p < end && *p == '-';
    if (p < end && (*p == '-' || *p == '+'))
        ++p;
    if (parts.negative)
        while (p < end && *p == ' ')
            ++p;
    const auto digits = [&] {
        const char* from = p;
        while (p < end && static_cast<unsigned char>(*p - '0') < 10)
            ++p;
        return std::string_view(from, static_cast<std::size_t>(p - from));
    };
    parts.whole = digits();
    parts.fraction = {};
    if (p < end && *p == '.') {
        ++p;
        parts.fraction = digits();
    }
    return p == end;
}

bool read_fixed_point(std::string_view stored, DecimalParts& parts, int64_t& billionths) {
    if (stored.size() != 18 || stored[8] != '.' || static_cast<unsigned char>(stored[17] - '0') > 9)
        return false;
    const uint64_t whole = word_at(stored.data());
    const uint64_t spaceFlags = bytes_equal(whole, ' '), minusFlags = bytes_equal(whole, '-');
    const unsigned spaces = byte_bits(spaceFlags), minus = byte_bits(minusFlags);
    // Spaces first, then at most one '-', then digits, at least one.
    if ((spaces & (spaces + 1)) != 0 || (minus != 0 && minus != spaces + 1) || (spaces | minus) == 0xFF)
        return false;
    // Spaces and the sign read as zeros ('0' is 0x10 above ' ' and 3 above '-').
    const uint64_t digits = whole + (spaceFlags >> 7) * 0x10 + (minusFlags >> 7) * 3;
    const uint64_t fraction = word_at(stored.data() + 9);
    if (!eight_digits(digits) || !eight_digits(fraction))
        return false;
    const size_t lead = static_cast<size_t>(std::popcount(spaces | minus));
    parts.negative = minus != 0;
    parts.whole = stored.substr(lead, 8 - lead);
    parts.fraction = stored.substr(9, 9);
    const int64_t value =
        static_cast<int64_t>(eight_digits_value(digits) * 1000000000u + eight_digits_value(fraction) * 10u +
                             static_cast<unsigned>(stored[17] - '0'));
    billionths = parts.negative ? -value : value;
    return true;
}

double decimal_value(const DecimalParts& parts, bool& short_) {
    static constexpr double kTens[] = {1,   1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                       1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const std::size_t digits = parts.whole.size() + parts.fraction.size();
    short_ = digits <= 15;
    if (digits == 0)
        return 0.0;
    double v = 0;
    if (short_) {
        // Both the digits as one integer and the power of ten are exact doubles: their quotient
        // is the correctly rounded value, as a full decimal reader gives it.
        uint64_t mantissa = 0;
        for (const char c : parts.whole)
            mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
        for (const char c : parts.fraction)
            mantissa = mantissa * 10 + static_cast<uint64_t>(c - '0');
        v = static_cast<double>(mantissa) / kTens[parts.fraction.size()];
    } else {
        std::string text(parts.whole);
        text += '.';
        text += parts.fraction;
        std::from_chars(text.data(), text.data() + text.size(), v);
    }
    return parts.negative ? -v : v;
}

char* put_plain_number(std::string_view stored, char decimal, char* out) {
    DecimalParts parts;
    if (!split_decimal(stored, parts) || parts.whole.size() + parts.fraction.size() == 0) {
        *out = '0'; // no number: what the field counts as
        return out + 1;
    }
    std::string_view fraction = parts.fraction;
    while (!fraction.empty() && fraction.back() == '0') // zeros that say nothing
        fraction.remove_suffix(1);
    const std::string_view whole = parts.whole;
    if (fraction.empty() && (whole.empty() || whole == "0")) {
        *out = '0'; // zero without a sign
        return out + 1;
    }
    if (parts.negative)
        *out++ = '-';
    if (whole.empty()) // "-.5" and ".5" read as -0.5 and 0.5
        *out++ = '0';
    std::memcpy(out, whole.data(), whole.size());
    out += whole.size();
    if (!fraction.empty()) {
        *out++ = decimal;
        std::memcpy(out, fraction.data(), fraction.size());
        out += fraction.size();
    }
    return out;
}

std::string plain_number(std::string_view stored) {
    std::string out(stored.size() + 1, '\0');
    out.resize(static_cast<std::size_t>(put_plain_number(stored, '.', out.data()) - out.data()));
    return out;
}

} // namespace ulen3
