#pragma once

// The footers under P, R and N of a page's grid: the page statistics, or the figures of the
// marked rows.

#include "table/PageStatistics.h"

namespace ulen3 {

class ObservationTable;
class TDBGridPro;

class PageFooters {
public:
    explicit PageFooters(ObservationTable& table) : m_table(table) {}

    // The page statistics of the last recomputation.
    const PageStatistics& statistics() const { return m_stats; }
    // The page statistics again; with two records or more the walk ends on the first one.
    void recompute();
    // The page statistics again after a cell edit, without moving the cursor.
    void recomputeInPlace();
    // The page's figures in the grid's footers.
    void showPage(TDBGridPro& grid);
    // Two marked rows or more: their figures; otherwise those of the page. An empty P or R of a
    // marked row counts as 0, as in the page statistics.
    void showMarked(TDBGridPro& grid);

private:
    void write(TDBGridPro& grid, const Figures& p, const Figures& r);

    ObservationTable& m_table;
    PageStatistics m_stats;
};

} // namespace ulen3
