#pragma once

#include "ui/grid/GridCells.h"

#include <QStyledItemDelegate>

namespace ulen3 {

// The cell editor: a line edit limited to the field's width. A focus that moves to another
// window (a question box, a file dialog) or to a menu ends nothing: the edit stays open until
// the user presses Enter, moves to another cell, or the window posts or drops it.
class GridDelegate : public QStyledItemDelegate {
public:
    GridDelegate(GridCells& cells, QObject* parent) : QStyledItemDelegate(parent), m_cells(cells) {}

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The text goes to the record the edit began on, wherever the rows have moved meanwhile.
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    GridCells& m_cells;
};

} // namespace ulen3
