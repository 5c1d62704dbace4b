#pragma once

// The chart on screen: a rubber band zooms into the rectangle drawn, the wheel zooms about the
// pointer, hovering shows the nearest record, and a click names the record clicked.

#include <QChartView>

#include <functional>

namespace ulen3 {

class SeriesChart;

class ChartView : public QChartView {
public:
    explicit ChartView(QChart* chart, QWidget* parent = nullptr);

    // For a series chart: the entry of its series under a click, and the text under hover.
    void setSeriesChart(SeriesChart* chart) { m_series = chart; }
    std::function<void(int index)> onRecordClicked;
    // The text shown for the point under the pointer; empty when there is none.
    QString hoverText() const { return m_hover; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    SeriesChart* m_series = nullptr;
    class QRubberBand* m_band;
    QPoint m_pressedAt;
    bool m_pressed = false;
    QString m_hover;
};

} // namespace ulen3
