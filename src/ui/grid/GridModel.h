#pragma once

#include "ui/grid/GridCells.h"
#include "ui/grid/GridColumns.h"

#include <QAbstractTableModel>

#include <algorithm>

namespace ulen3 {

// The table's view as rows and the grid's columns; every cell is read from the table when it
// is painted.
class GridModel : public QAbstractTableModel {
public:
    GridModel(GridCells& cells, QObject* parent) : QAbstractTableModel(parent), m_cells(cells) {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : m_cells.columns().Count();
    }

    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // A cell edit is posted through the table, to the record the row shows.
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    void reset(int rows) {
        beginResetModel();
        m_rows = rows;
        endResetModel();
    }
    void rowChanged(int row) {
        if (row >= 0 && row < m_rows)
            emit dataChanged(index(row, 0), index(row, std::max(0, columnCount() - 1)));
    }

private:
    GridCells& m_cells;
    int m_rows = 0;
};

} // namespace ulen3
