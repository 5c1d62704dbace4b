#pragma once

// The export of the records of a page to an .xls workbook: a sheet "ВЕСКОР" with a header row
// and one row per record.

#include <stdexcept>
#include <string>
#include <vector>

namespace ulen3 {

class RecordView;
class TvteXLSWorkbook;

// Most records a sheet holds below its header row.
constexpr int kMaxExportRecords = 65535;

class ExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Fills a new sheet "ВЕСКОР" of the workbook with the header row and one row per record, in
// the view's order (or those rows of the view, positions in it, in the order given). Throws
// ExportError when they do not fit a sheet.
void fill_export_sheet(const RecordView& records, TvteXLSWorkbook& workbook);
void fill_export_sheet(const RecordView& records, const std::vector<int>& rows, TvteXLSWorkbook& workbook);

// The whole export: the workbook is built in memory, then written to path (replaced when it
// exists). Throws ExportError or CompoundFileError with the user's message.
void exp2excel(const RecordView& records, const std::string& path);
void exp2excel(const RecordView& records, const std::vector<int>& rows, const std::string& path);

// The refusal of a sheet of `book` ("книги Excel 97–2003") for `count` records when it holds at
// most `most`, with the way out to .xlsx when asked.
std::string too_many_records_text(int count, int most, const char* book, bool xlsxWayOut);

// "Экспорт в файл <name> завершен успешно." with the file name without its folder.
std::string export_success_text(const std::string& path);

} // namespace ulen3
