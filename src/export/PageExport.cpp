#include "export/PageExport.h"

#include "base/File.h"
#include "export/CsvRows.h"
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

std::string csv_text(const RecordView& view, const std::vector<int>& rows, const CsvStyle& style) {
    std::string out = "\xEF\xBB\xBF"; // UTF-8 byte-order mark: spreadsheets then read the text as UTF-8
    for (int c = 0; c < kSheetColumnCount; ++c) {
        if (c)
            out += style.separator;
        out += csv_field(kSheetColumns[c].title, style.separator);
    }
    out += "\r\n";
    std::vector<CsvColumn> columns;
    for (const SheetColumn& c : kSheetColumns)
        columns.push_back({c.field, c.number});
    return out + CsvRows(view, columns, style.separator, style.decimal, "\r\n").Text(rows);
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
