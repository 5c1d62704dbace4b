#pragma once

// Rows of a view as CSV lines, formatted straight from the records' stored bytes into one
// buffer that goes out in large blocks: the command line's dump and the CSV export.

#include "table/ObservationFields.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

class RecordView;

struct CsvColumn {
    Field field;
    bool number;
};

class CsvRows {
public:
    // Each line holds the columns in this order, between `separator`s, and ends with `lineEnd`.
    // A number is written as stored, in full, with `decimal` for its point; an empty field is
    // empty; a text is a field as RFC 4180 has it, in UTF-8.
    CsvRows(const RecordView& view, std::vector<CsvColumn> columns, char separator, char decimal,
            std::string_view lineEnd);

    // The lines of these rows of the view, in this order, handed to `sink` in blocks of about
    // `block` bytes, the last one shorter.
    using Sink = std::function<void(const char* data, std::size_t size)>;
    void Write(const std::vector<int>& rows, std::size_t block, const Sink& sink) const;
    // All of them as one text.
    std::string Text(const std::vector<int>& rows) const;

private:
    char* putText(std::string_view raw, char* out) const;

    const RecordView& m_view;
    struct Place {
        int offset;
        int width;
        bool number;
    };
    std::vector<Place> m_places;
    char m_separator;
    char m_decimal;
    std::string m_lineEnd;
    std::size_t m_lineBound = 0; // most bytes one line can take
    bool m_quoted[256] = {};     // bytes that put a text field in quotes
};

} // namespace ulen3
