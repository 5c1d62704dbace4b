#pragma once

#include <string>
#include <string_view>

namespace ulen3 {

// The order of the table's text keys, the platform's "word sort" for Russian: ICU's root order
// (digits after other punctuation, Latin letters before Cyrillic ones: the Russian tailoring's
// reordering of Cyrillic first is left out), hyphen and apostrophe ignored until the texts are
// otherwise equal, then compared last (so "coop" and "co-op" sort together).
//
// The texts are Windows-1251 bytes, and every one of the 256 byte values has fixed collation
// weights: they are taken from ICU once, and a text's key is made from them in one pass, without
// converting it and without calling ICU for it.
class RussianCollation {
public:
    RussianCollation();

    // Compares two texts given as Windows-1251 bytes: <0, 0, >0.
    int compare(std::string_view a, std::string_view b) const;
    // A byte string whose memcmp order is the collation order: the primary weights of every
    // character, then the secondary, the tertiary, and last the characters themselves.
    std::string sortKey(std::string_view cp1251) const;
    void appendSortKey(std::string_view cp1251, std::string& out) const;
    // The first part of the key alone: texts whose primary keys differ are in that order.
    void appendPrimaryKey(std::string_view cp1251, std::string& out) const;

    // The same comparison made by ICU's collator itself (root, hyphen and apostrophe completely
    // ignorable, identical strength): the definition the keys are checked against.
    int icuCompare(std::string_view a, std::string_view b) const;

private:
    struct Table;
    const Table& m_table;
};

} // namespace ulen3
