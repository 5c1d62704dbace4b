#include "table/Cp1251.h"
#include "table/FieldCodec.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <random>

#include <clocale>
#include <limits>
#include <string>

using namespace ulen3;

namespace {

std::string fixed(double v, int width = 18, int decimals = 9) {
    std::string out(static_cast<size_t>(width), '#');
    if (!encode_fixed(v, width, decimals, out.data()))
        return "<refused>";
    return out;
}

std::string integer(long v, int width = 4) {
    std::string out(static_cast<size_t>(width), '#');
    if (!encode_integer(v, width, out.data()))
        return "<refused>";
    return out;
}

} // namespace

TEST(FieldCodec, FixedPointIsRightAlignedWithNineDecimals) {
    EXPECT_EQ(fixed(1), "       1.000000000");
    EXPECT_EQ(fixed(-2.5), "      -2.500000000");
    EXPECT_EQ(fixed(0), "       0.000000000");
    EXPECT_EQ(fixed(1.0000000004), "       1.000000000");
    EXPECT_EQ(fixed(0.0000000006), "       0.000000001");
    // Rounding to zero drops the sign.
    EXPECT_EQ(fixed(-0.0000000001), "       0.000000000");
}

TEST(FieldCodec, FixedPointRefusesWhatDoesNotFit) {
    EXPECT_EQ(fixed(99999999.0), "99999999.000000000");
    EXPECT_EQ(fixed(1e8), "<refused>");
    EXPECT_EQ(fixed(-9999999.0), "-9999999.000000000");
    EXPECT_EQ(fixed(-1e7), "<refused>");
    EXPECT_EQ(fixed(std::numeric_limits<double>::infinity()), "<refused>");
    EXPECT_EQ(fixed(std::numeric_limits<double>::quiet_NaN()), "<refused>");
}

TEST(FieldCodec, PointStaysADotUnderACommaLocale) {
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    if (std::setlocale(LC_ALL, "ru_RU.UTF-8") == nullptr && std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    EXPECT_EQ(fixed(-2.5), "      -2.500000000");
    EXPECT_EQ(decode_number("      -2.500000000"), -2.5);
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(FieldCodec, SmallIntegersPutTheSignFirst) {
    EXPECT_EQ(integer(1), "   1");
    EXPECT_EQ(integer(0), "   0");
    EXPECT_EQ(integer(-5), "-  5");
    EXPECT_EQ(integer(255), " 255");
    EXPECT_EQ(integer(9999), "9999");
    EXPECT_EQ(integer(-999), "-999");
    EXPECT_EQ(integer(10000), "<refused>");
    EXPECT_EQ(integer(-1000), "<refused>");
}

TEST(FieldCodec, ReadingNumbers) {
    EXPECT_FALSE(decode_number("                  ").has_value());
    EXPECT_FALSE(decode_number("").has_value());
    EXPECT_EQ(decode_number("       1.000000000"), 1.0);
    EXPECT_EQ(decode_number("-  5"), -5.0);
    // More digits than a double holds: the nearest double, as a full decimal reader gives it.
    EXPECT_EQ(decode_number("12345678.123456789"), 12345678.123456789);
    EXPECT_EQ(decode_number(" -0.0000000000000001"), -0.0000000000000001);
    EXPECT_EQ(decode_number("1.2.3"), 0.0);
    EXPECT_EQ(decode_number("   1"), 1.0);
    EXPECT_EQ(decode_number("  +3.5"), 3.5);
    // Text that does not read as a number gives 0.
    EXPECT_EQ(decode_number("  abc "), 0.0);
    EXPECT_EQ(decode_number(" 1.5x"), 0.0);
    // Only decimal text is a number: what from_chars would also take is not.
    for (const char* text :
         {"nan", "NAN", "inf", "-inf", "infinity", "1e5", "1e300", "1.5E-3", "0x10", ".", "-", "+-1"})
        EXPECT_EQ(decode_number(text), 0.0) << text;
    EXPECT_EQ(decode_number(".5"), 0.5);
    EXPECT_EQ(decode_number("5."), 5.0);
}

TEST(FieldCodec, TextIsCutPaddedAndKeepsLeadingSpaces) {
    std::string out(5, '#');
    encode_text("abcdefg", 5, out.data());
    EXPECT_EQ(out, "abcde");
    encode_text("ab", 5, out.data());
    EXPECT_EQ(out, "ab   ");
    EXPECT_EQ(decode_text("  ab   "), "  ab");
    EXPECT_EQ(decode_text("     "), "");
}

TEST(Cp1251, RoundTripsRussianText) {
    const std::string text = "Ёжик в тумане: ёлка, Ъ, №5 — «да»";
    const std::string bytes = utf8_to_cp1251(text);
    EXPECT_EQ(bytes.size(), 33u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xA8); // Ё
    EXPECT_EQ(static_cast<unsigned char>(utf8_to_cp1251("ё")[0]), 0xB8);
    EXPECT_EQ(static_cast<unsigned char>(utf8_to_cp1251("№")[0]), 0xB9);
    EXPECT_EQ(static_cast<unsigned char>(utf8_to_cp1251("А")[0]), 0xC0);
    EXPECT_EQ(static_cast<unsigned char>(utf8_to_cp1251("я")[0]), 0xFF);
    EXPECT_EQ(cp1251_to_utf8(bytes), text);
    // Plain ASCII goes eight bytes at a time: a letter of another script anywhere in a run of
    // ASCII around those eights comes out in its place.
    for (size_t length = 0; length <= 20; ++length)
        for (size_t at = 0; at <= length; ++at) {
            std::string mixed(length, 'a');
            for (size_t i = 0; i < length; ++i)
                mixed[i] = static_cast<char>('0' + i % 40);
            mixed.insert(at, "ж");
            ASSERT_EQ(cp1251_to_utf8(utf8_to_cp1251(mixed)), mixed) << length << " " << at;
        }
}

TEST(Cp1251, UnmappableAndBrokenInputBecomeQuestionMarks) {
    EXPECT_EQ(utf8_to_cp1251("a€b"), std::string("a\x88"
                                                 "b"));
    EXPECT_EQ(utf8_to_cp1251("日本"), "??");
    EXPECT_EQ(utf8_to_cp1251("a\xC3"), "a?");
    EXPECT_EQ(utf8_to_cp1251("\xFF"), "?");
}

// The fast reading of the program's own fixed-point text gives exactly what a full decimal
// reader gives, for every magnitude a field holds.
TEST(FieldCodec, FixedPointReadsAsAFullDecimalReaderDoes) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    char out[18];
    for (int i = 0; i < 200000; ++i) {
        const double scale = std::pow(10.0, static_cast<int>(random() % 17) - 9);
        const double value = unit(random) * scale;
        if (!encode_fixed(value, 18, 9, out))
            continue;
        const std::string text(out, 18);
        std::string_view t(text);
        t.remove_prefix(t.find_first_not_of(' '));
        double expected = 0;
        std::from_chars(t.data(), t.data() + t.size(), expected);
        ASSERT_EQ(decode_number(text), expected) << text;
    }
}

// The table's own form is read word by word into the parts split_decimal gives and an exact
// value in billionths; every other form is left to split_decimal.
TEST(FieldCodec, TheTablesOwnFormReadsAsSplitDecimalDoes) {
    std::mt19937_64 random(11);
    char out[18];
    for (int i = 0; i < 100000; ++i) {
        const int64_t billionths = static_cast<int64_t>(random() % 199999999999999999ull) - 99999999999999999;
        const double value = static_cast<double>(billionths) / 1e9;
        if (!encode_fixed(value, 18, 9, out))
            continue;
        const std::string_view text(out, 18);
        DecimalParts fast, general;
        int64_t read = 0;
        ASSERT_TRUE(read_fixed_point(text, fast, read)) << text;
        ASSERT_TRUE(split_decimal(text, general)) << text;
        ASSERT_EQ(fast.negative, general.negative) << text;
        ASSERT_EQ(fast.whole, general.whole) << text;
        ASSERT_EQ(fast.fraction, general.fraction) << text;
        std::string digits(fast.whole);
        digits += fast.fraction;
        ASSERT_EQ(read, (fast.negative ? -1 : 1) * std::stoll(digits)) << text;
    }
    for (const char* other : {"-  5.000000000    ", "   5.00000000     ", "  5-3000.000000000", "        .000000001",
                              "   1.5            ", "      +1.000000000", "      1.0000000001", "     1 2.000000000",
                              "  --12.000000000  ", "      12.00000000a", "                  ", "-       .000000000"}) {
        DecimalParts parts;
        int64_t read = 0;
        EXPECT_FALSE(read_fixed_point(other, parts, read)) << other;
    }
}

namespace {

// A stored number as plain decimal text in full: what dump prints and an editor starts from.
TEST(PlainNumber, StoredTextsInFullWithoutSignsOrZerosThatSayNothing) {
    const std::pair<const char*, const char*> cases[] = {
        {"12345678.123456789", "12345678.123456789"},
        {"1000000", "1000000"},
        {"1000000.000", "1000000"},
        {"+1.50", "1.5"},
        {"-0.000", "0"},
        {"-0", "0"},
        {".5", "0.5"},
        {"-.5", "-0.5"},
        {"007", "007"},
        {"-0.000001", "-0.000001"},
        {"1e5", "0"},
        {"abc", "0"},
        {"", "0"},
        {"-", "0"},
        {"5.", "5"},
        // As the field holds them: padded, and a negative integer with its sign first.
        {"      12.500000000", "12.5"},
        {"-  5", "-5"},
        {"  -0.000000000  ", "0"},
        {"                  ", "0"},
        {"+ 5", "0"},
        {"+-5", "0"},
        {"--5", "0"},
        {"-+5", "0"},
    };
    for (const auto& [stored, shown] : cases)
        EXPECT_EQ(ulen3::plain_number(stored), shown) << stored;
    // With a decimal comma, written in place in no more than one byte over the stored text.
    char out[8] = "xxxxxxx";
    EXPECT_EQ(ulen3::put_plain_number("-.5", ',', out) - out, 4);
    EXPECT_EQ(std::string(out, 4), "-0,5");
}

} // namespace
