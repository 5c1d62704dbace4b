#pragma once

// The export of chosen rows of a page to a file of one of three types: the Excel 97–2003
// workbook of "Экспорт в Excel", an Office Open XML workbook (.xlsx) of up to 1,048,575 records,
// or a CSV text for other programs. Each file is written whole under a temporary name and then
// put in the place of the older one, so that a failed export leaves that file as it was.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

class RecordView;

enum class ExportType { Xls, Xlsx, Csv };

// The type a file name's extension names (any case); none for another extension.
std::optional<ExportType> export_type_of(const std::string& path);

// Most records an .xlsx sheet holds below its header row.
constexpr int kMaxXlsxRecords = 1048575;

// The separator between a CSV row's fields and the decimal mark of its numbers.
struct CsvStyle {
    char separator = ',';
    char decimal = '.';
};
// What a spreadsheet of a locale with this decimal separator opens with a double click:
// ";" and "," where the decimal separator is a comma, "," and "." otherwise.
CsvStyle csv_style_for(char decimalSeparator);

// Every row of the view, in its order.
std::vector<int> all_rows(const RecordView& view);
// The rows of the view that hold these records, in the view's order; records not in the view
// are left out.
std::vector<int> rows_of_records(const RecordView& view, const std::vector<uint32_t>& records);
// "1,3,7-9": those rows by their 1-based position among `count`, in the view's order, each once.
// Throws ExportError naming the part that is no row of the page.
std::vector<int> parse_row_list(const std::string& list, int count);

// Writes those rows of the view (positions in it, in the order given) to `path` as `type`.
// Throws ExportError (or CompoundFileError for .xls) with the user's message; the older file
// is then unchanged.
void export_rows(const RecordView& view, const std::vector<int>& rows, const std::string& path, ExportType type,
                 const CsvStyle& csv = {});

// The whole text of the CSV file, byte-order mark included.
std::string csv_text(const RecordView& view, const std::vector<int>& rows, const CsvStyle& style);
// One field as RFC 4180 has it: in quotes, with quotes doubled, when it holds the separator, a
// quote or a line break, or begins or ends with a space (which some readers would trim).
std::string csv_field(const std::string& text, char separator);

// "Экспортировано записей: N в файл <name>." with the file name without its folder.
std::string rows_exported_text(int count, const std::string& path);

} // namespace ulen3
