#include "table/RussianCollation.h"

#include "table/Cp1251.h"

#include <unicode/ucol.h>

#include <stdexcept>

namespace ulen3 {

RussianCollation::RussianCollation() {
    UErrorCode status = U_ZERO_ERROR;
    m_collator = ucol_open("ru", &status);
    if (U_FAILURE(status))
        throw std::runtime_error("ICU has no Russian collation");
}

RussianCollation::~RussianCollation() { ucol_close(static_cast<UCollator*>(m_collator)); }

int RussianCollation::compare(std::string_view a, std::string_view b) const {
    if (a == b)
        return 0;
    const std::u16string ua = cp1251_to_utf16(a);
    const std::u16string ub = cp1251_to_utf16(b);
    const UCollationResult r =
        ucol_strcoll(static_cast<UCollator*>(m_collator), ua.data(), static_cast<int32_t>(ua.size()), ub.data(),
                     static_cast<int32_t>(ub.size()));
    return r == UCOL_LESS ? -1 : (r == UCOL_GREATER ? 1 : 0);
}

std::string RussianCollation::sortKey(std::string_view cp1251) const {
    const std::u16string u = cp1251_to_utf16(cp1251);
    auto* coll = static_cast<UCollator*>(m_collator);
    std::string key(u.size() * 4 + 16, '\0');
    int32_t n = ucol_getSortKey(coll, u.data(), static_cast<int32_t>(u.size()), reinterpret_cast<uint8_t*>(key.data()),
                                static_cast<int32_t>(key.size()));
    if (n > static_cast<int32_t>(key.size())) {
        key.resize(static_cast<size_t>(n));
        n = ucol_getSortKey(coll, u.data(), static_cast<int32_t>(u.size()), reinterpret_cast<uint8_t*>(key.data()),
                            static_cast<int32_t>(key.size()));
    }
    key.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return key;
}

} // namespace ulen3
