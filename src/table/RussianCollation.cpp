#include "table/RussianCollation.h"

#include "table/Cp1251.h"

#include <unicode/ucol.h>
#include <unicode/unorm2.h>

#include <array>
#include <cstring>
#include <memory>
#include <stdexcept>

namespace ulen3 {

namespace {

// Root order with hyphen and apostrophe tailored to be ignorable at every level; the identical
// strength then compares them, with everything else, when all else is equal.
constexpr char16_t kRules[] = u"&[last tertiary ignorable]=\\-=\\'";

struct Closer {
    void operator()(UCollator* c) const { ucol_close(c); }
};

std::unique_ptr<UCollator, Closer> checked(UCollator* c, UErrorCode status) {
    if (U_FAILURE(status)) {
        ucol_close(c);
        throw std::runtime_error(std::string("ICU cannot make the text order: ") + u_errorName(status));
    }
    return std::unique_ptr<UCollator, Closer>(c);
}

// The order as ICU's own collator, built from the rules (some milliseconds: for the checks).
std::unique_ptr<UCollator, Closer> open_rules_collator() {
    UErrorCode status = U_ZERO_ERROR;
    UParseError where{};
    UCollator* c =
        ucol_openRules(reinterpret_cast<const UChar*>(kRules), -1, UCOL_DEFAULT, UCOL_IDENTICAL, &where, &status);
    return checked(c, status);
}

} // namespace

// The weights of each byte value at the three levels, and its NFD code points (three bytes each,
// most significant first) for the last comparison.
struct RussianCollation::Table {
    std::array<std::string, 256> level[3];
    std::array<std::string, 256> identical;
    // The primary weights again as fixed slots, for the keys made for every record.
    static constexpr std::size_t kSlot = 8;
    char primary[256][kSlot] = {};
    uint8_t primaryLength[256] = {};

    Table() {
        UErrorCode status = U_ZERO_ERROR;
        const UNormalizer2* nfd = unorm2_getNFDInstance(&status);
        // Each character's own sort key in the root order at tertiary strength, cut at the level
        // separators; hyphen and apostrophe get no weights there, as the rules make them.
        status = U_ZERO_ERROR;
        const std::unique_ptr<UCollator, Closer> tertiary = checked(ucol_open("", &status), status);
        ucol_setStrength(tertiary.get(), UCOL_TERTIARY);
        for (int b = 0; b < 256; ++b) {
            const char byte = static_cast<char>(b);
            const std::u16string u = cp1251_to_utf16(std::string_view(&byte, 1));
            uint8_t key[64];
            const int32_t n = ucol_getSortKey(tertiary.get(), reinterpret_cast<const UChar*>(u.data()),
                                              static_cast<int32_t>(u.size()), key, sizeof key);
            int at = b == '-' || b == '\'' ? n : 0;
            for (int l = 0; l < 3; ++l) {
                while (at < n && key[at] > 1)
                    level[l][static_cast<size_t>(b)] += static_cast<char>(key[at++]);
                ++at; // the separator, or the terminating zero
            }
            if (level[0][static_cast<size_t>(b)].size() > kSlot)
                throw std::runtime_error("ICU gives a character of the code page more primary weights than expected");
            std::memcpy(primary[b], level[0][static_cast<size_t>(b)].data(), level[0][static_cast<size_t>(b)].size());
            primaryLength[b] = static_cast<uint8_t>(level[0][static_cast<size_t>(b)].size());
            UChar decomposed[8];
            status = U_ZERO_ERROR;
            const int32_t m = unorm2_normalize(nfd, reinterpret_cast<const UChar*>(u.data()),
                                               static_cast<int32_t>(u.size()), decomposed, 8, &status);
            if (U_FAILURE(status))
                throw std::runtime_error("ICU cannot decompose a character of the code page");
            for (int32_t i = 0; i < m; ++i) {
                identical[static_cast<size_t>(b)] += '\0';
                identical[static_cast<size_t>(b)] += static_cast<char>(decomposed[i] >> 8);
                identical[static_cast<size_t>(b)] += static_cast<char>(decomposed[i] & 0xFF);
            }
        }
    }
};

RussianCollation::RussianCollation()
    : m_table([]() -> const Table& {
          static const Table table;
          return table;
      }()) {}

void RussianCollation::appendPrimaryKey(std::string_view cp1251, std::string& out) const {
    // A key field is mostly padding: the trailing spaces' weights go in as one run.
    std::size_t body = cp1251.size();
    while (body > 0 && cp1251[body - 1] == ' ')
        --body;
    const std::size_t spaces = cp1251.size() - body;
    const std::size_t spaceLength = m_table.primaryLength[static_cast<unsigned char>(' ')];
    std::size_t length = spaces * spaceLength;
    for (std::size_t i = 0; i < body; ++i)
        length += m_table.primaryLength[static_cast<unsigned char>(cp1251[i])];
    // Each byte's slot is copied whole and the next one written over its tail: room for that.
    const std::size_t from = out.size();
    out.resize(from + length + Table::kSlot);
    char* p = out.data() + from;
    for (std::size_t i = 0; i < body; ++i) {
        const auto b = static_cast<unsigned char>(cp1251[i]);
        std::memcpy(p, m_table.primary[b], Table::kSlot);
        p += m_table.primaryLength[b];
    }
    if (spaceLength == 1)
        std::memset(p, m_table.primary[static_cast<unsigned char>(' ')][0], spaces);
    else
        for (std::size_t i = 0; i < spaces; ++i)
            std::memcpy(p + i * spaceLength, m_table.primary[static_cast<unsigned char>(' ')], spaceLength);
    out.resize(from + length);
}

void RussianCollation::appendSortKey(std::string_view cp1251, std::string& out) const {
    for (int l = 0; l < 3; ++l) {
        for (const char c : cp1251)
            out += m_table.level[l][static_cast<unsigned char>(c)];
        out += '\x01';
    }
    for (const char c : cp1251)
        out += m_table.identical[static_cast<unsigned char>(c)];
}

std::string RussianCollation::sortKey(std::string_view cp1251) const {
    std::string key;
    key.reserve(cp1251.size() * 8);
    appendSortKey(cp1251, key);
    return key;
}

int RussianCollation::compare(std::string_view a, std::string_view b) const {
    if (a == b)
        return 0;
    thread_local std::string ka, kb;
    ka.clear();
    kb.clear();
    appendSortKey(a, ka);
    appendSortKey(b, kb);
    const int c = ka.compare(kb);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

int RussianCollation::icuCompare(std::string_view a, std::string_view b) const {
    static const std::unique_ptr<UCollator, Closer> collator = open_rules_collator();
    const std::u16string ua = cp1251_to_utf16(a);
    const std::u16string ub = cp1251_to_utf16(b);
    const UCollationResult r =
        ucol_strcoll(collator.get(), reinterpret_cast<const UChar*>(ua.data()), static_cast<int32_t>(ua.size()),
                     reinterpret_cast<const UChar*>(ub.data()), static_cast<int32_t>(ub.size()));
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

} // namespace ulen3
