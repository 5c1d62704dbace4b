#include "chart/ChartView.h"

#include "chart/SeriesChart.h"

#include <QMouseEvent>
#include <QRubberBand>
#include <QToolTip>
#include <QWheelEvent>

#include <cmath>

namespace ulen3 {

namespace {
constexpr int kClickSlop = 4; // pixels a click may move and still be a click
}

ChartView::ChartView(QChart* chart, QWidget* parent)
    : QChartView(chart, parent), m_band(new QRubberBand(QRubberBand::Rectangle, this)) {
    setRenderHint(QPainter::Antialiasing);
    setRubberBand(QChartView::NoRubberBand); // drawn here, so that a click stays a click
    setMouseTracking(true);
}

void ChartView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QChartView::mousePressEvent(event);
        return;
    }
    m_pressed = true;
    m_pressedAt = event->position().toPoint();
    m_band->setGeometry(QRect(m_pressedAt, QSize()));
    m_band->show();
    event->accept();
}

void ChartView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (m_pressed) {
        m_band->setGeometry(QRect(m_pressedAt, at).normalized());
    } else if (m_series && chart()->plotArea().contains(chart()->mapFromScene(mapToScene(at)))) {
        m_hover = m_series->describe(m_series->recordAt(mapToScene(at)));
        if (!m_hover.isEmpty())
            QToolTip::showText(event->globalPosition().toPoint(), m_hover, this);
    } else {
        m_hover.clear();
        QToolTip::hideText();
    }
    event->accept();
}

void ChartView::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_pressed || event->button() != Qt::LeftButton) {
        QChartView::mouseReleaseEvent(event);
        return;
    }
    m_pressed = false;
    m_band->hide();
    const QPoint at = event->position().toPoint();
    const QRect drawn = QRect(m_pressedAt, at).normalized();
    if ((at - m_pressedAt).manhattanLength() <= kClickSlop) {
        if (m_series && onRecordClicked) {
            const int index = m_series->recordAt(mapToScene(at));
            if (index >= 0)
                onRecordClicked(index);
        }
    } else {
        const QRectF plot = chart()->plotArea();
        const QRectF zoom = QRectF(chart()->mapFromScene(mapToScene(drawn.topLeft())),
                                   chart()->mapFromScene(mapToScene(drawn.bottomRight())))
                                .intersected(plot);
        if (zoom.width() > 1 && zoom.height() > 1)
            chart()->zoomIn(zoom);
    }
    event->accept();
}

void ChartView::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) {
        event->ignore();
        return;
    }
    // Zoom about the pointer: the point under it stays where it is.
    const double factor = std::pow(0.8, steps);
    const QRectF plot = chart()->plotArea();
    const QPointF at = chart()->mapFromScene(mapToScene(event->position().toPoint()));
    QRectF r(at.x() - (at.x() - plot.left()) * factor, at.y() - (at.y() - plot.top()) * factor, plot.width() * factor,
             plot.height() * factor);
    chart()->zoomIn(r);
    event->accept();
}

} // namespace ulen3
