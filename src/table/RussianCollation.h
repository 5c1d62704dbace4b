#pragma once

#include <string>
#include <string_view>

namespace ulen3 {

// The linguistic order of Russian text (ICU, locale "ru", default strength):
// what the table's language driver names for its character keys.
class RussianCollation {
public:
    RussianCollation();
    ~RussianCollation();
    RussianCollation(const RussianCollation&) = delete;
    RussianCollation& operator=(const RussianCollation&) = delete;

    // Compares two texts given as Windows-1251 bytes: <0, 0, >0.
    int compare(std::string_view a, std::string_view b) const;
    // A byte string whose memcmp order is the collation order.
    std::string sortKey(std::string_view cp1251) const;

private:
    void* m_collator = nullptr;
};

} // namespace ulen3
