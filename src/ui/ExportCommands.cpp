// "Экспорт…" and "Экспорт выбранных строк…": the visible page, or its marked rows, in the order
// the grid shows, to a workbook .xls or .xlsx or a CSV text, the type chosen in one save dialog.

#include "ui/main.h"

#include "dialogs/UserDialogs.h"
#include "export/PageExport.h"
#include "ui/grid/DBGridPro.h"

#include <QApplication>

namespace ulen3 {

namespace {

const char* const kExportTypes =
    "Книга Excel 97–2003 (*.xls)|*.xls|Книга Excel (*.xlsx)|*.xlsx|Текст CSV (*.csv)|*.csv";

// The wait cursor while a large page is written, put back however the write ends.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

void TForm1::exportPage(bool markedOnly) {
    if (!m_document.isOpen() || !m_table.Active() || !pagesShown())
        return;
    const QString caption = markedOnly ? QStringLiteral("Экспорт выбранных строк") : QStringLiteral("Экспорт");
    if (markedOnly && activeGrid()->SelectionCount() == 0)
        return;
    const QString path =
        m_dialogs.saveFile(this, QString::fromUtf8(kExportTypes), QStringLiteral(".xls"), m_document.folder(), true);
    if (path.isEmpty())
        return;
    const std::optional<ExportType> type = export_type_of(path.toStdString());
    if (!type) {
        m_dialogs.error(
            this, caption,
            QStringLiteral("Тип файла «%1» не известен: выберите .xls, .xlsx или .csv. Файл не записан.").arg(path));
        return;
    }
    refuseOutput(path, *type == ExportType::Csv ? "Файл не записан" : "Книга не записана");
    // The rows as the page stands once the file is chosen.
    const RecordView records = m_table.Records();
    const std::vector<int> rows =
        markedOnly ? rows_of_records(records, activeGrid()->SelectionRecords()) : all_rows(records);
    {
        const WaitCursor wait;
        export_rows(records, rows, path.toStdString(), *type, csv_style_for(decimalSeparator()));
    }
    m_dialogs.information(
        this, caption, QString::fromStdString(rows_exported_text(static_cast<int>(rows.size()), path.toStdString())));
}

void TForm1::updateExportMarked() {
    m_exportMarkedAction->setEnabled(m_document.isOpen() && m_table.Active() && pagesShown() &&
                                     activeGrid()->SelectionCount() >= 1);
}

} // namespace ulen3
