// The text order of the tags, made from a table of weights per byte, against ICU's collator with
// the same settings: every pair of characters, random texts over the whole code page built to
// differ late and at every level, and the cases a user meets.

#include "table/Cp1251.h"
#include "table/RussianCollation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace ulen3;

namespace {

int sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

std::string cp(const std::string& utf8) { return utf8_to_cp1251(utf8); }

TEST(Collation, EveryPairOfCharactersOrdersAsIcu) {
    const RussianCollation order;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            const std::string x(1, static_cast<char>(a)), y(1, static_cast<char>(b));
            ASSERT_EQ(sign(order.sortKey(x).compare(order.sortKey(y))), order.icuCompare(x, y)) << a << " " << b;
            // Each before or after a common letter, so that the levels meet other weights.
            ASSERT_EQ(sign(order.compare(x + "a", "a" + y)), order.icuCompare(x + "a", "a" + y)) << a << " " << b;
        }
}

TEST(Collation, RandomTextsOverTheWholeCodePageOrderAsIcu) {
    const RussianCollation order;
    std::mt19937 random(20261210);
    std::uniform_int_distribution<int> byte(0, 255), length(0, 100), pick(0, 9);
    const std::string near = cp("еЕёЁeE-' ИиЙй");
    const auto text = [&] {
        std::string s(static_cast<size_t>(length(random)), ' ');
        for (char& c : s)
            c = pick(random) < 3 ? near[static_cast<size_t>(byte(random)) % near.size()]
                                 : static_cast<char>(byte(random));
        return s;
    };
    std::vector<std::string> texts;
    for (int i = 0; i < 100000; ++i) {
        std::string s = text();
        // Half of them a variant of the one before: one character changed, put in or taken out.
        if (i % 2 && !texts.empty()) {
            s = texts.back();
            const size_t at = s.empty() ? 0 : static_cast<size_t>(byte(random)) % s.size();
            const char c = near[static_cast<size_t>(byte(random)) % near.size()];
            switch (pick(random) % 3) {
            case 0:
                if (!s.empty())
                    s[at] = c;
                break;
            case 1:
                s.insert(at, 1, c);
                break;
            default:
                if (!s.empty())
                    s.erase(at, 1);
            }
        }
        texts.push_back(s);
    }
    for (size_t i = 1; i < texts.size(); ++i)
        ASSERT_EQ(order.compare(texts[i - 1], texts[i]), order.icuCompare(texts[i - 1], texts[i]))
            << cp1251_to_utf8(texts[i - 1]) << " | " << cp1251_to_utf8(texts[i]);
    // Sorted by the keys, every neighbour is in ICU's order too.
    std::vector<std::string> keys(texts.size());
    std::vector<size_t> byKey(texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        keys[i] = order.sortKey(texts[i]);
        byKey[i] = i;
    }
    std::sort(byKey.begin(), byKey.end(), [&](size_t a, size_t b) { return keys[a] < keys[b]; });
    for (size_t i = 1; i < byKey.size(); ++i)
        ASSERT_LE(order.icuCompare(texts[byKey[i - 1]], texts[byKey[i]]), 0);
}

TEST(Collation, TheWordSortOfTheCasesAUserMeets) {
    const RussianCollation order;
    std::vector<std::string> words = {"Проба", "abc",  "co-op", "coop", "cop", "Co-op",   "123",   "!знак", "ёлка",
                                      "Ёлка",  "елка", "ель",   "Ель",  "",    " пробел", "d'Arc", "dArc",  "Zed",
                                      "яма",   "9",    "-",     "'",    "a-",  "a",       "A"};
    std::vector<std::string> sorted = words;
    std::sort(sorted.begin(), sorted.end(),
              [&](const std::string& a, const std::string& b) { return order.compare(cp(a), cp(b)) < 0; });
    // Latin before Cyrillic, digits after other punctuation and compared as text, case and
    // ё after the letters, hyphen and apostrophe only where nothing else differs.
    const std::vector<std::string> expected = {
        "",      "'",   "-",     " пробел", "!знак", "123",  "9",    "a",    "a-",  "A",   "abc",   "co-op", "coop",
        "Co-op", "cop", "d'Arc", "dArc",    "Zed",   "елка", "ёлка", "Ёлка", "ель", "Ель", "Проба", "яма"};
    EXPECT_EQ(sorted, expected);
    for (size_t i = 1; i < sorted.size(); ++i)
        EXPECT_LT(order.icuCompare(cp(sorted[i - 1]), cp(sorted[i])), 0) << sorted[i - 1] << " | " << sorted[i];
    // Texts padded to the field's width keep their order; all 100 characters count.
    const std::string a(100, 'a'), b = std::string(99, 'a') + "b";
    EXPECT_LT(order.compare(a, b), 0);
    EXPECT_EQ(order.compare(a, a), 0);
}

} // namespace
