#pragma once

// The export of one page of the table to an .xls workbook: a sheet "ВЕСКОР" with a header row
// and one row per record of the page, in the order of the table file.

#include <stdexcept>
#include <string>

namespace ulen3 {

class ObservationTable;
class TvteXLSWorkbook;

enum class ExportPage { Observation, Operative };

// "NB_TYPE=0" for the observation page, "NB_TYPE=1" for the operative one.
const char* page_filter(ExportPage page);

// The page the main window shows for this table: "Оперативный" when it has operative records,
// "Наблюдения" otherwise.
ExportPage shown_page(ObservationTable& table);

// Most records a sheet holds below its header row.
constexpr int kMaxExportRecords = 65535;

class ExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Drops both sort tags (failures ignored), shows the page's records in file order and fills a
// new sheet of the workbook with them. Throws ExportError when they do not fit a sheet.
void fill_export_sheet(ObservationTable& table, ExportPage page, TvteXLSWorkbook& workbook);

// The whole export: the workbook is built in memory, then written to path (replaced when it
// exists). Throws ExportError or CompoundFileError with the user's message.
void exp2excel(ObservationTable& table, ExportPage page, const std::string& path);

// "Экспорт в файл <name> завершен успешно." with the file name without its folder.
std::string export_success_text(const std::string& path);

} // namespace ulen3
