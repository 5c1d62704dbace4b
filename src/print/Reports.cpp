#include "print/Reports.h"

#include <QFile>

// The templates live in the print library; a static library's resources are registered by hand.
static void register_reports() { Q_INIT_RESOURCE(reports); }

namespace ulen3 {

ReportTemplate report_template(PageKind page) {
    register_reports();
    const QString name = page == PageKind::Observation ? QStringLiteral(":/reports/observation.report")
                                                       : QStringLiteral(":/reports/operative.report");
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw ReportError("Не найден шаблон отчёта " + name.toStdString());
    return parse_report_template(file.readAll().toStdString());
}

} // namespace ulen3
