#include "export/CsvRows.h"

#include "table/Cp1251.h"
#include "table/FieldCodec.h"
#include "table/ObservationTable.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace ulen3 {

namespace {

// The field without its trailing spaces, eight at a time: most of a comment field is padding.
std::string_view without_padding(const char* bytes, std::size_t size) {
    constexpr uint64_t kEightSpaces = 0x2020202020202020u;
    while (size >= 8) {
        uint64_t eight;
        std::memcpy(&eight, bytes + size - 8, 8);
        if (eight != kEightSpaces)
            break;
        size -= 8;
    }
    while (size > 0 && bytes[size - 1] == ' ')
        --size;
    return {bytes, size};
}

} // namespace

CsvRows::CsvRows(const RecordView& view, std::vector<CsvColumn> columns, char separator, char decimal,
                 std::string_view lineEnd)
    : m_view(view), m_separator(separator), m_decimal(decimal), m_lineEnd(lineEnd) {
    for (const CsvColumn& c : columns) {
        const int width = view.Width(c.field);
        m_places.push_back({view.Offset(c.field), width, c.number});
        // A text in quotes, each byte at most three of UTF-8 (a doubled quote is two).
        m_lineBound += 3 * static_cast<std::size_t>(width) + 3;
    }
    m_lineBound += m_lineEnd.size();
    for (const unsigned char c : {'"', '\r', '\n'})
        m_quoted[c] = true;
    m_quoted[static_cast<unsigned char>(separator)] = true;
}

// RFC 4180: in quotes, with quotes doubled, when the text holds the separator, a quote or a line
// break, or begins with a space (which some readers would trim; the padding is gone at its end).
char* CsvRows::putText(std::string_view raw, char* out) const {
    const std::string_view text = without_padding(raw.data(), raw.size());
    if (text.empty())
        return out;
    bool quoted = text.front() == ' ';
    for (const char c : text)
        quoted |= m_quoted[static_cast<unsigned char>(c)];
    if (!quoted)
        return put_utf8(text, out);
    *out++ = '"';
    std::string_view rest = text;
    for (std::size_t quote; (quote = rest.find('"')) != std::string_view::npos;) {
        out = put_utf8(rest.substr(0, quote + 1), out);
        *out++ = '"';
        rest.remove_prefix(quote + 1);
    }
    out = put_utf8(rest, out);
    *out++ = '"';
    return out;
}

void CsvRows::Write(const std::vector<int>& rows, std::size_t block, const Sink& sink) const {
    const std::size_t room = block + m_lineBound;
    const std::unique_ptr<char[]> buffer(new char[room]);
    char* out = buffer.get();
    const int length = m_view.RecordLength();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (i + kFetchAhead < rows.size()) { // in a sort's order the next record is anywhere
            const char* ahead = m_view.Bytes(rows[i + kFetchAhead]);
            for (int at = 0; at < length; at += 64)
                __builtin_prefetch(ahead + at);
        }
        const char* record = m_view.Bytes(rows[i]);
        for (std::size_t c = 0; c < m_places.size(); ++c) {
            if (c)
                *out++ = m_separator;
            const Place& p = m_places[c];
            const std::string_view raw(record + p.offset, static_cast<std::size_t>(p.width));
            if (!p.number)
                out = putText(raw, out);
            else if (raw.back() != ' ' || raw.find_first_not_of(' ') != std::string_view::npos)
                out = put_plain_number(raw, m_decimal, out); // an empty number stays empty
        }
        std::memcpy(out, m_lineEnd.data(), m_lineEnd.size());
        out += m_lineEnd.size();
        if (static_cast<std::size_t>(out - buffer.get()) >= block) {
            sink(buffer.get(), static_cast<std::size_t>(out - buffer.get()));
            out = buffer.get();
        }
    }
    if (out != buffer.get())
        sink(buffer.get(), static_cast<std::size_t>(out - buffer.get()));
}

std::string CsvRows::Text(const std::vector<int>& rows) const {
    std::string text;
    Write(rows, 1 << 20, [&text](const char* data, std::size_t size) { text.append(data, size); });
    return text;
}

} // namespace ulen3
