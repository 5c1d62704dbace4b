// Preview and print of the visible page's report.

#include "ui/main.h"

#include "dialogs/UserDialogs.h"
#include "print/ReportPreview.h"

#include <QFileInfo>
#include <QLocale>

namespace ulen3 {

bool TForm1::prepare_report() {
    if (!m_document.isOpen() || !m_table.Active())
        return false;
    PageReport& report = visiblePage().report;
    report.prepared = ulen3::prepare_report(report.layout, m_table.Records(), QLocale().decimalPoint());
    return true;
}

void TForm1::N8Click() {
    if (!prepare_report())
        return;
    const PreparedReport& prepared = visiblePage().report.prepared;
    ReportPreview::Commands commands;
    commands.print = [this, &prepared] { guarded([&] { printReport(prepared); }); };
    commands.savePdf = [this, &prepared] { guarded([&] { saveReportAsPdf(prepared); }); };
    commands.help = [this] {
        if (ShowHelp)
            ShowHelp();
    };
    keepingPlace([&] {
        ReportPreview preview(prepared, commands, this);
        preview.exec();
    });
}

void TForm1::N9Click() {
    if (!prepare_report())
        return;
    keepingPlace([this] { printReport(visiblePage().report.prepared); });
}

QString TForm1::reportName() const { return QFileInfo(QString::fromStdString(m_table.Path())).completeBaseName(); }

// Without a printer the print dialog could do nothing: the user is told so and may keep the
// report as a PDF instead.
void TForm1::printReport(const PreparedReport& prepared) {
    if (printers_installed()) {
        print_with_dialog(prepared, reportName(), m_dialogs, this);
        return;
    }
    if (m_dialogs.question(this, QString::fromUtf8(kTitle),
                           QStringLiteral("Принтер не установлен. Сохранить отчёт в файл PDF?")))
        saveReportAsPdf(prepared);
}

void TForm1::saveReportAsPdf(const PreparedReport& prepared) {
    const QString path = m_dialogs.saveFile(this, QStringLiteral("Документ PDF|*.pdf"), QStringLiteral(".pdf"),
                                            m_document.folder(), true);
    if (path.isEmpty())
        return;
    refuseOutput(path, "Отчёт не записан");
    write_pdf(prepared, path, reportName());
}

// The popup prints what "Печать" prints: the visible page's records as they are now.
void TForm1::N22Click() { N9Click(); }

} // namespace ulen3
