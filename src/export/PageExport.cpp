#include "export/PageExport.h"

#include "base/File.h"
#include "export/SheetColumns.h"
#include "export/SheetExport.h"
#include "export/XlsxExport.h"
#include "table/FieldCodec.h"
#include "table/ObservationTable.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace ulen3 {

namespace {

// What a failed write of a whole file says: what went wrong, and that the older file is kept.
std::string write_failure_text(const WholeFileFailure& why, const std::string& path) {
    const std::string kept = " Прежний файл, если он был, не изменён.";
    if (why.beforeWrite && why.failure == FileFailure::NotFound)
        return "Файл не записан: нет папки «" + folder_of(path) + "»." + kept;
    if (why.failure == FileFailure::Io)
        return "Файл не записан: ошибка записи файла «" + path + "» (" + std::strerror(why.error) + ")." + kept;
    return "Файл не записан. " + file_failure_text(why.failure, path) + "." + kept;
}

void write_whole(const std::string& path, const void* data, std::size_t size) {
    WholeFileFailure why;
    if (!write_whole_file(path, {{data, size}}, true, why))
        throw ExportError(write_failure_text(why, path));
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

std::string csv_field(const std::string& text, char separator) {
    const bool spaced = !text.empty() && (text.front() == ' ' || text.back() == ' ');
    if (!spaced && text.find_first_of(std::string{'"', '\r', '\n', separator}) == std::string::npos)
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
    out.reserve(out.size() + 80 * (rows.size() + 1));
    for (int c = 0; c < kSheetColumnCount; ++c) {
        if (c)
            out += style.separator;
        out += csv_field(kSheetColumns[c].title, style.separator);
    }
    out += "\r\n";
    for (const int row : rows) {
        for (int c = 0; c < kSheetColumnCount; ++c) {
            const SheetColumn& column = kSheetColumns[c];
            if (c)
                out += style.separator;
            if (view.IsNull(row, column.field))
                continue; // an empty field stays empty: other programs read it as missing
            if (!column.number) {
                out += csv_field(view.Text(row, column.field), style.separator);
                continue;
            }
            // The number as stored, in full, with the style's decimal mark.
            std::string number = plain_number(view.Text(row, column.field));
            std::replace(number.begin(), number.end(), '.', style.decimal);
            out += number;
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
