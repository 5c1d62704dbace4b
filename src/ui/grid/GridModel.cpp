#include "ui/grid/GridModel.h"

#include "table/ObservationTable.h"
#include "ui/grid/GridColumns.h"

#include <QWidget>

namespace ulen3 {

QVariant GridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows || index.column() >= m_cells.columns().Count())
        return {};
    const TgpColumn& c = m_cells.columns().Items(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return m_cells.cellText(index.row(), index.column());
    case Qt::EditRole:
        return m_cells.editText(index.row(), index.column());
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(qt_alignment(c.Alignment));
    case Qt::BackgroundRole: {
        const QColor colour = column_colour(c.Color, m_cells.look().palette());
        return colour.isValid() ? QVariant(colour) : QVariant();
    }
    case Qt::ForegroundRole:
        if (c.Font.Color) {
            const QColor colour = column_colour(static_cast<std::uint32_t>(*c.Font.Color), m_cells.look().palette());
            return colour.isValid() ? QVariant(colour) : QVariant();
        }
        return {};
    case Qt::FontRole:
        return c.Font.ParentFont() ? QVariant() : QVariant(cell_font(c.Font, m_cells.look().font()));
    default:
        return {};
    }
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Vertical)
        return {}; // the row indicator column carries no text
    if (section >= m_cells.columns().Count())
        return QAbstractTableModel::headerData(section, orientation, role);
    const TgpColumn& c = m_cells.columns().Items(section);
    if (role == Qt::DisplayRole)
        return c.Caption;
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(qt_alignment(c.CaptionAlignment) | Qt::TextWordWrap);
    return {};
}

Qt::ItemFlags GridModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && !m_cells.columns().Items(index.column()).ReadOnly)
        f |= Qt::ItemIsEditable;
    return f;
}

bool GridModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || index.row() >= m_rows || !m_cells.table())
        return false;
    return m_cells.writeCell(m_cells.table()->ViewRecordAt(index.row()), index.column(), value.toString());
}

} // namespace ulen3
