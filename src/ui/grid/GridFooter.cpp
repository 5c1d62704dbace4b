#include "ui/grid/GridFooter.h"

#include "ui/grid/GridColumns.h"

#include <QHeaderView>
#include <QPainter>
#include <QTableView>

namespace ulen3 {

GridFooter::GridFooter(const TgpColumns& columns, QTableView* view, QWidget* parent)
    : QWidget(parent), m_columns(columns), m_view(view) {
    setFixedHeight(fontMetrics().height() + 8);
}

void GridFooter::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().button());
    const QHeaderView* header = m_view->horizontalHeader();
    const int offset =
        m_view->frameWidth() + (m_view->verticalHeader()->isVisible() ? m_view->verticalHeader()->width() : 0);
    const TgpColumns& columns = m_columns;
    const auto cell = [&](int i) {
        return QRect(offset + header->sectionViewportPosition(i), 0, header->sectionSize(i), height() - 1);
    };
    p.setPen(QColor(192, 192, 192));
    for (int i = 0; i < columns.Count(); ++i)
        p.drawRect(cell(i));
    p.setPen(palette().buttonText().color());
    const QFontMetrics metrics = fontMetrics();
    for (int i = 0; i < columns.Count(); ++i) {
        const QString& text = columns.Items(i).FooterText;
        if (text.isEmpty())
            continue;
        QRect room = cell(i);
        const int wanted = metrics.horizontalAdvance(text) + 6;
        for (int left = i - 1, right = i + 1; room.width() < wanted;) {
            const bool canRight = right < columns.Count() && columns.Items(right).FooterText.isEmpty();
            const bool canLeft = left >= 0 && columns.Items(left).FooterText.isEmpty();
            if (canRight)
                room.setRight(cell(right++).right());
            else if (canLeft)
                room.setLeft(cell(left--).left());
            else
                break;
        }
        if (room != cell(i))
            p.fillRect(room.adjusted(1, 1, 0, 0), palette().button());
        p.drawText(room.adjusted(3, 0, -3, 0), Qt::AlignCenter, text);
    }
}

} // namespace ulen3
