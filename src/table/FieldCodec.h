#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ulen3 {

// The byte encodings of dBase field values. Every writer fills exactly
// `width` bytes at `out` and never writes past them.

// Fixed-point decimal text with `decimals` digits after a '.', right-aligned.
// Returns false, writing nothing, when the text does not fit or the value is not finite.
bool encode_fixed(double value, int width, int decimals, char* out);

// Integer right-aligned; a negative value has its '-' in the first byte ("-  5").
// Returns false, writing nothing, when sign and digits do not fit.
bool encode_integer(long value, int width, char* out);

// Bytes left-aligned, cut at the width, padded with spaces.
void encode_text(std::string_view bytes, int width, char* out);

// The whole field as spaces: no value.
void encode_blank(int width, char* out);

// A stored decimal's sign, whole digits and fraction digits, read in one pass over the form a
// field holds: spaces, a sign (spaces after a '-', as dBase pads a negative integer), digits, a
// point and digits, spaces. False for any other text.
struct DecimalParts {
    bool negative = false;
    std::string_view whole, fraction;
};
bool split_decimal(std::string_view stored, DecimalParts& parts);
// The form the table writes a number in (18 bytes: spaces, an optional '-', at least one digit,
// '.', nine digits), read without a loop: its parts as split_decimal gives them, and its value in
// billionths, which is exact. False for any other text, which split_decimal then reads.
bool read_fixed_point(std::string_view stored, DecimalParts& parts, int64_t& billionths);
// The value decode_number gives for a text split so (0 without digits); `short_` when it has at
// most 15 digits, so that no other such value reads as the same double.
double decimal_value(const DecimalParts& parts, bool& short_);

// True for an optional sign, digits and an optional '.' with digits, and nothing else.
bool is_decimal_text(std::string_view text);

// A numeric field: no value when it is all spaces; 0 when it does not read as a decimal number
// (exponents, "nan" and "inf" included).
std::optional<double> decode_number(std::string_view raw);
// The same; `short_` tells whether the field was blank or a plain decimal of at most 15 digits.
// Two such decimals of different value never read as the same double.
std::optional<double> decode_number(std::string_view raw, bool& short_);

// A text field without its trailing spaces (leading spaces are kept).
std::string_view decode_text(std::string_view raw);

// A numeric field's text without the spaces around it and with the padding
// after a leading '-' removed ("-  5" gives "-5"); empty for no value.
std::string_view trim_number(std::string_view raw, char* scratch);

// A stored decimal text as plain decimal text, in full: without the spaces around it and after a
// leading '-', without a leading '+', without zeros after the last significant decimal, "-0" as
// "0", never an exponent. A text that is no decimal number gives "0", what the field counts as.
std::string plain_number(std::string_view stored);
// The same written at `out` with `decimal` for the point, at most stored.size() + 1 bytes;
// returns the end of what it wrote.
char* put_plain_number(std::string_view stored, char decimal, char* out);

} // namespace ulen3
