#pragma once

#include <QWidget>

class QTableView;

namespace ulen3 {

class TgpColumns;

// The footer row under the columns of a grid's view.
class GridFooter : public QWidget {
public:
    GridFooter(const TgpColumns& columns, QTableView* view, QWidget* parent);

protected:
    // The cells first, then the texts: a text wider than its cell spreads over neighbouring
    // cells that have none, as a spreadsheet does, so that figures are not cut.
    void paintEvent(QPaintEvent*) override;

private:
    const TgpColumns& m_columns;
    QTableView* m_view;
};

} // namespace ulen3
