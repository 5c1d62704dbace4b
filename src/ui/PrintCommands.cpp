// Preview and print of the visible page's report.

#include "main.h"

#include "ReportPreview.h"
#include "UserDialogs.h"

#include <QFileInfo>
#include <QLocale>

namespace ulen3 {

bool TForm1::prepare_report() {
    if (!doc_open || !m_table.Active())
        return false;
    PageReport& report = visiblePage().report;
    report.prepared = ulen3::prepare_report(report.layout, m_table.Records(), QLocale().decimalPoint());
    return true;
}

void TForm1::N8Click() {
    if (!prepare_report())
        return;
    const PreparedReport& prepared = visiblePage().report.prepared;
    const QString name = QFileInfo(QString::fromStdString(m_table.Path())).completeBaseName();
    ReportPreview::Commands commands;
    commands.print = [this, &prepared, name] { guarded([&] { print_with_dialog(prepared, name, this); }); };
    commands.savePdf = [this, &prepared, name] {
        guarded([&] {
            const QString path = m_dialogs.saveFile(this, QStringLiteral("Документ PDF|*.pdf"), QStringLiteral(".pdf"),
                                                    default_dir, true);
            if (!path.isEmpty())
                write_pdf(prepared, path, name);
        });
    };
    commands.help = [this] {
        if (ShowHelp)
            ShowHelp();
    };
    ReportPreview preview(prepared, commands, this);
    preview.exec();
}

void TForm1::N9Click() {
    if (!prepare_report())
        return;
    print_with_dialog(visiblePage().report.prepared,
                      QFileInfo(QString::fromStdString(m_table.Path())).completeBaseName(), this);
}

// The popup prints what "Печать" prints: the visible page's records as they are now.
void TForm1::N22Click() { N9Click(); }

} // namespace ulen3
