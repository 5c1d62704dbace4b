#include "export/PageExport.h"

#include "base/File.h"
#include "export/SheetColumns.h"
#include "export/SheetExport.h"
#include "export/XlsxExport.h"
#include "table/Cp1251.h"
#include "table/FieldCodec.h"
#include "table/ObservationTable.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace ulen3 {

namespace {

void write_whole(const std::string& path, const void* data, std::size_t size) {
    WholeFileFailure why;
    if (!write_whole_file(path, {{data, size}}, true, why))
        throw ExportError(whole_file_failure_text(why, path));
}

// A row position of "1,3,7-9" (1-based), or -1 for a text that is none.
int position_of(std::string_view text, int count) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 1 || value > count)
        return -1;
    return value - 1;
}

} // namespace

std::optional<ExportType> export_type_of(const std::string& path) {
    const std::string extension = lower_extension(path);
    if (extension == "xls")
        return ExportType::Xls;
    if (extension == "xlsx")
        return ExportType::Xlsx;
    if (extension == "csv")
        return ExportType::Csv;
    return std::nullopt;
}

CsvStyle csv_style_for(char decimalSeparator) {
    return decimalSeparator == ',' ? CsvStyle{';', ','} : CsvStyle{',', '.'};
}

std::vector<int> all_rows(const RecordView& view) {
    std::vector<int> rows(static_cast<std::size_t>(view.Count()));
    for (int i = 0; i < view.Count(); ++i)
        rows[static_cast<std::size_t>(i)] = i;
    return rows;
}

std::vector<int> rows_of_records(const RecordView& view, const std::vector<uint32_t>& records) {
    std::vector<uint32_t> chosen = records;
    std::sort(chosen.begin(), chosen.end());
    std::vector<int> rows;
    for (int row = 0; row < view.Count(); ++row)
        if (std::binary_search(chosen.begin(), chosen.end(), view.RecordId(row)))
            rows.push_back(row);
    return rows;
}

std::vector<int> parse_row_list(const std::string& list, int count) {
    std::vector<bool> chosen(static_cast<std::size_t>(count), false);
    std::string_view rest = list;
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view part = rest.substr(0, comma);
        const std::size_t dash = part.find('-');
        const int first = position_of(part.substr(0, dash), count);
        const int last = dash == std::string_view::npos ? first : position_of(part.substr(dash + 1), count);
        if (first < 0 || last < first)
            throw ExportError("«" + std::string(part) + "» в списке строк «" + list +
                              "» — не номер строки и не диапазон строк страницы (записей на ней: " +
                              std::to_string(count) + "). Файл не записан.");
        std::fill(chosen.begin() + first, chosen.begin() + last + 1, true);
        if (comma == std::string_view::npos)
            break;
        rest.remove_prefix(comma + 1);
    }
    std::vector<int> rows;
    for (int i = 0; i < count; ++i)
        if (chosen[static_cast<std::size_t>(i)])
            rows.push_back(i);
    return rows;
}

namespace {

// Whether RFC 4180 wants the field in quotes (and some readers a field with a space at an end).
bool needs_quotes(std::string_view text, char separator) {
    if (!text.empty() && (text.front() == ' ' || text.back() == ' '))
        return true;
    for (const char c : text)
        if (c == '"' || c == '\r' || c == '\n' || c == separator)
            return true;
    return false;
}

bool all_spaces(std::string_view raw) { return raw.find_first_not_of(' ') == std::string_view::npos; }

} // namespace

std::string csv_field(const std::string& text, char separator) {
    if (!needs_quotes(text, separator))
        return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

void append_csv_field(std::string_view cp1251, char separator, std::string& out) {
    if (!needs_quotes(cp1251, separator)) {
        append_utf8(cp1251, out);
        return;
    }
    out += '"';
    for (std::size_t quote; (quote = cp1251.find('"')) != std::string_view::npos;) {
        append_utf8(cp1251.substr(0, quote + 1), out);
        out += '"';
        cp1251.remove_prefix(quote + 1);
    }
    append_utf8(cp1251, out);
    out += '"';
}

void append_csv_value(std::string_view raw, bool number, const CsvStyle& style, std::string& out) {
    if (all_spaces(raw))
        return; // an empty field stays empty: other programs read it as missing
    if (!number) {
        append_csv_field(decode_text(raw), style.separator, out);
        return;
    }
    // The number as stored, in full, with the style's decimal mark.
    char scratch[256];
    const std::size_t from = out.size();
    append_plain_number(trim_number(raw.substr(0, std::min<std::size_t>(raw.size(), 255)), scratch), out);
    if (style.decimal != '.')
        std::replace(out.begin() + static_cast<std::ptrdiff_t>(from), out.end(), '.', style.decimal);
}

std::string csv_text(const RecordView& view, const std::vector<int>& rows, const CsvStyle& style) {
    std::string out = "\xEF\xBB\xBF"; // UTF-8 byte-order mark: spreadsheets then read the text as UTF-8
    out.reserve(out.size() + 80 * (rows.size() + 1));
    for (int c = 0; c < kSheetColumnCount; ++c) {
        if (c)
            out += style.separator;
        out += csv_field(kSheetColumns[c].title, style.separator);
    }
    out += "\r\n";
    for (const int row : rows) {
        for (int c = 0; c < kSheetColumnCount; ++c) {
            if (c)
                out += style.separator;
            append_csv_value(view.Raw(row, kSheetColumns[c].field), kSheetColumns[c].number, style, out);
        }
        out += "\r\n";
    }
    return out;
}

void export_rows(const RecordView& view, const std::vector<int>& rows, const std::string& path, ExportType type,
                 const CsvStyle& csv) {
    switch (type) {
    case ExportType::Xls:
        exp2excel(view, rows, path);
        return;
    case ExportType::Xlsx: {
        const XlsxImage image = build_xlsx(view, rows);
        write_whole(path, image.data(), image.size());
        return;
    }
    case ExportType::Csv: {
        const std::string text = csv_text(view, rows, csv);
        write_whole(path, text.data(), text.size());
        return;
    }
    }
}

std::string rows_exported_text(int count, const std::string& path) {
    return export_success_text(path) + " Записей: " + std::to_string(count) + ".";
}

} // namespace ulen3
