#include "export/SheetExport.h"

#include "export/vteExcel.h"
#include "export/vteExcelTypes.h"
#include "table/ObservationTable.h"
#include "table/Pages.h"

namespace ulen3 {

namespace {

// The header texts, the measured columns titled as the grids title them.
const char* const kHeaders[8] = {"N", "Дата", "Время", kTitleP, kTitleR, kTitleH, kTitleQ, "Примечание"};

// Where each column of a data row comes from.
struct Column {
    Field field;
    bool number;
};
const Column kColumns[8] = {{Field::N, true}, {Field::DATE, false}, {Field::TIME, false}, {Field::P, true},
                            {Field::R, true}, {Field::H, true},     {Field::T, false},    {Field::COMMENT, false}};

} // namespace

void fill_export_sheet(const RecordView& records, TvteXLSWorkbook& workbook) {
    TvteXLSWorksheet& sheet = workbook.AddSheet();
    sheet.SetName("ВЕСКОР");
    const int n = records.Count();
    if (n > kMaxExportRecords)
        throw ExportError("На странице " + std::to_string(n) + " записей, а лист книги Excel вмещает не более " +
                          std::to_string(kMaxExportRecords) + " записей под строкой заголовка. Файл не записан.");
    sheet.ReserveRanges(8 * (static_cast<std::size_t>(n) + 1));
    for (int c = 0; c < 8; ++c)
        sheet.Range(c, 0, c, 0).SetValue(std::string_view(kHeaders[c]));
    for (int k = 1; k <= n; ++k) {
        for (int c = 0; c < 8; ++c) {
            TvteXLSRange& cell = sheet.Range(c, k, c, k);
            if (kColumns[c].number)
                cell.SetValue(records.Number(k - 1, kColumns[c].field));
            else
                cell.SetValue(std::string_view(records.Text(k - 1, kColumns[c].field)));
        }
    }
}

void exp2excel(const RecordView& records, const std::string& path) {
    TvteXLSWorkbook workbook;
    fill_export_sheet(records, workbook);
    TvteExcelWriter writer;
    writer.Save(workbook, path);
}

std::string export_success_text(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return "Экспорт в файл " + name + " завершен успешно.";
}

} // namespace ulen3
