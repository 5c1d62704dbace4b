#include "export/SheetExport.h"

#include "export/PageExport.h"
#include "export/SheetColumns.h"
#include "export/vteExcel.h"
#include "export/vteExcelTypes.h"
#include "table/ObservationTable.h"
#include "table/Pages.h"

namespace ulen3 {

const SheetColumn kSheetColumns[kSheetColumnCount] = {
    {"N", Field::N, true},         {"Дата", Field::DATE, false},
    {"Время", Field::TIME, false}, {kTitleP, Field::P, true},
    {kTitleR, Field::R, true},     {kTitleH, Field::H, true},
    {kTitleQ, Field::T, false},    {"Примечание", Field::COMMENT, false},
};

std::string too_many_records_text(int count, int most, const char* book, bool xlsxWayOut) {
    std::string text = "Записей для экспорта: " + std::to_string(count) + ", а лист " + book + " вмещает не более " +
                       std::to_string(most) + " записей под строкой заголовка. Файл не записан.";
    if (xlsxWayOut)
        text += " Для большего числа записей используйте .xlsx: лист такой книги вмещает до " +
                std::to_string(kMaxXlsxRecords) + " записей.";
    return text;
}

void fill_export_sheet(const RecordView& records, TvteXLSWorkbook& workbook) {
    fill_export_sheet(records, all_rows(records), workbook);
}

void fill_export_sheet(const RecordView& records, const std::vector<int>& rows, TvteXLSWorkbook& workbook) {
    TvteXLSWorksheet& sheet = workbook.AddSheet();
    sheet.SetName("ВЕСКОР");
    const int n = static_cast<int>(rows.size());
    if (n > kMaxExportRecords)
        throw ExportError(too_many_records_text(n, kMaxExportRecords, "книги Excel 97–2003", true));
    sheet.ReserveRanges(kSheetColumnCount * (static_cast<std::size_t>(n) + 1));
    for (int c = 0; c < kSheetColumnCount; ++c)
        sheet.Range(c, 0, c, 0).SetValue(std::string_view(kSheetColumns[c].title));
    for (int k = 1; k <= n; ++k) {
        const int row = rows[static_cast<std::size_t>(k - 1)];
        for (int c = 0; c < kSheetColumnCount; ++c) {
            TvteXLSRange& cell = sheet.Range(c, k, c, k);
            if (kSheetColumns[c].number)
                cell.SetValue(records.Number(row, kSheetColumns[c].field));
            else
                cell.SetValue(std::string_view(records.Text(row, kSheetColumns[c].field)));
        }
    }
}

void exp2excel(const RecordView& records, const std::string& path) { exp2excel(records, all_rows(records), path); }

void exp2excel(const RecordView& records, const std::vector<int>& rows, const std::string& path) {
    TvteXLSWorkbook workbook;
    fill_export_sheet(records, rows, workbook);
    TvteExcelWriter writer;
    writer.Save(workbook, path);
}

std::string export_success_text(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "Экспорт в файл " + name + " завершен успешно.";
}

} // namespace ulen3
