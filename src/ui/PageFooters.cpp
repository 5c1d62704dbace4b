#include "ui/PageFooters.h"

#include "table/ObservationTable.h"
#include "ui/grid/DBGridPro.h"

#include <QLocale>

namespace ulen3 {

void PageFooters::recompute() {
    recomputeInPlace();
    if (m_table.Active() && m_table.VisibleCount() >= 2)
        m_table.First();
}

void PageFooters::recomputeInPlace() {
    m_stats = m_table.Active() ? page_statistics(m_table.Records()) : PageStatistics{};
}

void PageFooters::showPage(TDBGridPro& grid) { write(grid, m_stats.p, m_stats.r); }

void PageFooters::showMarked(TDBGridPro& grid) {
    const int s = grid.SelectionCount();
    if (s < 2) {
        showPage(grid);
        return;
    }
    FiguresOf p, r;
    for (int i = 0; i < s; ++i) {
        p.add(grid.SelectionValue(i, 0));
        r.add(grid.SelectionValue(i, 1));
    }
    write(grid, p.figures(), r.figures());
}

void PageFooters::write(TDBGridPro& grid, const Figures& p, const Figures& r) {
    const std::string sep = QLocale().decimalPoint().toStdString();
    grid.SetFooterText(grid.Columns().ByFieldName(QStringLiteral("P")), QString::fromStdString(figures_text(p, sep)));
    grid.SetFooterText(grid.Columns().ByFieldName(QStringLiteral("R")), QString::fromStdString(figures_text(r, sep)));
    const int count = m_table.Active() ? m_table.VisibleCount() : 0;
    grid.SetFooterText(grid.Columns().ByFieldName(QStringLiteral("N")), QString::number(count));
}

} // namespace ulen3
