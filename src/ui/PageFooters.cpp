// The footers under P, R and N: the page statistics, or the figures of the marked rows.

#include "ui/main.h"

#include <QLocale>

namespace ulen3 {

void TForm1::find_mma() {
    if (!m_table.Active()) {
        page_stats = {};
        return;
    }
    page_stats = page_statistics(m_table.Records());
    // With two records or more the walk ends on the first one.
    if (m_table.VisibleCount() >= 2)
        m_table.First();
}

void TForm1::recompute_footers() {
    find_mma();
    if (pagesShown())
        writeFooters(visiblePage().grid, page_stats.p, page_stats.r);
}

void TForm1::writeFooters(TDBGridPro* grid, const Figures& p, const Figures& r) {
    const std::string sep = QLocale().decimalPoint().toStdString();
    grid->SetFooterText(grid->Columns().ByFieldName(QStringLiteral("P")), QString::fromStdString(figures_text(p, sep)));
    grid->SetFooterText(grid->Columns().ByFieldName(QStringLiteral("R")), QString::fromStdString(figures_text(r, sep)));
    const int count = m_table.Active() ? m_table.VisibleCount() : 0;
    grid->SetFooterText(grid->Columns().ByFieldName(QStringLiteral("N")), QString::number(count));
}

void TForm1::afterPost(TDBGridPro* grid) {
    if (!m_table.Active())
        return;
    page_stats = page_statistics(m_table.Records());
    if (pagesShown() && grid == visiblePage().grid)
        selectionChange(grid);
}

void TForm1::DBGridPro1SelectionChange(TDBGridPro* grid) { selectionChange(grid); }

void TForm1::DBGridPro2SelectionChange(TDBGridPro* grid) { selectionChange(grid); }

// Two marked rows or more: their figures; otherwise those of the page. An empty P or R of a
// marked row counts as 0, as in the page statistics.
void TForm1::selectionChange(TDBGridPro* grid) {
    const int s = grid->SelectionCount();
    if (s < 2) {
        writeFooters(grid, page_stats.p, page_stats.r);
        return;
    }
    FiguresOf p, r;
    for (int i = 0; i < s; ++i) {
        p.add(grid->SelectionValue(i, 0));
        r.add(grid->SelectionValue(i, 1));
    }
    writeFooters(grid, p.figures(), r.figures());
}

void TForm1::DBGridPro1AfterDelete(TDBGridPro* grid) {
    find_mma();
    writeFooters(grid, page_stats.p, page_stats.r);
}

void TForm1::DBGridPro2AfterDelete(TDBGridPro* grid) { DBGridPro1AfterDelete(grid); }

} // namespace ulen3
