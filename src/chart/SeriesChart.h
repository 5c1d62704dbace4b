#pragma once

// The charts of a page drawn with Qt Charts: P and R over the record order or over time, each on
// its own axis, downsampled to the pixels shown; and the histogram of one of them. The same
// charts are drawn in the window «График» and into files by the command line.

#include "chart/PageSeries.h"

#include <QChart>
#include <QString>

#include <string>

class QLineSeries;
class QAreaSeries;
class QValueAxis;

namespace ulen3 {

// Texts of a record and of its page that a chart shows.
struct ChartTexts {
    QString titleP, titleR; // the page's column titles
    QString page;           // the page's caption
    QString tableName;      // the table's file name
};

class SeriesChart : public QChart {
public:
    SeriesChart();

    // Draws the series anew over the whole range. `decimal` is the user's decimal separator.
    void setSeries(PageSeries series, XAxis axis, const ChartTexts& texts, QChar decimal);
    const PageSeries& pageSeries() const { return m_series; }
    XAxis xAxis() const { return m_axis; }
    const Curve& curve(bool r) const { return r ? m_r : m_p; }
    const ChartTexts& texts() const { return m_texts; }
    QChar decimal() const { return m_decimal; }

    // The points for the x range shown at the plot's width: called after every zoom and resize.
    void resample();
    void resetZoom();
    // The range shown, in axis values, and putting one back (a saved picture keeps the zoom).
    struct Range {
        double x0, x1, p0, p1, r0, r1;
    };
    Range range() const;
    void setRange(const Range& range);

    // The record nearest to a point of the plot, in the series (-1 when there is none): the
    // nearest in x of each curve, then the nearer on screen of the two.
    int recordAt(QPointF scenePos);
    // "N 12, 01.03.2024 08:34:01, Tн, °C: 36,5; Tв, °С: 60,777"
    QString describe(int index) const;
    // What the chart leaves out or shows alone, for the note under it; empty when nothing.
    QString note() const;
    // The number of points drawn now, P and R together.
    int pointsDrawn() const;

private:
    double axisX(int index) const; // the x of a series entry on the axis shown
    void buildAxes();
    void fitY();

    PageSeries m_series;
    XAxis m_axis = XAxis::Order;
    ChartTexts m_texts;
    QChar m_decimal = QLatin1Char('.');
    Curve m_p, m_r; // x in the axis's units
    QLineSeries* m_lineP;
    QLineSeries* m_lineR;
    QAbstractAxis* m_x = nullptr;
    QValueAxis* m_yP;
    QValueAxis* m_yR;
    bool m_resampling = false;
};

class HistogramChart : public QChart {
public:
    HistogramChart();
    // The bins of the values drawn as bars over the value axis; `title` names the value.
    void setValues(const std::vector<double>& values, int bins, const QString& title, QChar decimal);
    const Histogram& bins() const { return m_bins; }

private:
    QAreaSeries* m_area = nullptr;
    Histogram m_bins;
};

// A number as a chart writes it: up to 15 significant digits with the decimal separator.
QString chart_number(double value, QChar decimal);

} // namespace ulen3
