#pragma once

// The window «График»: P and R of the page shown (or of the rows marked in its grid) over the
// record order or over time, with zoom, the nearest record under the pointer and a click that
// selects the record in the grid; the histogram of either value; the series' figures; saving as
// PNG, SVG or PDF and printing. It follows the grid's marks and every change of the table.

#include "chart/PageSeries.h"
#include "table/ObservationTable.h"

#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QSpinBox;
class QTabWidget;

namespace ulen3 {

class ChartView;
class HistogramChart;
class SeriesChart;
class StatisticsPanel;
class TDBGridPro;
class UserDialogs;

class ChartWindow : public QWidget, private TableListener {
public:
    ChartWindow(UserDialogs& dialogs, QWidget* parent);
    ~ChartWindow() override;

    // Follows this grid's page: `page` is its caption, `tableName` the table's file name.
    void showPage(TDBGridPro* grid, const QString& page, const QString& tableName, QChar decimal);
    // The table closes: the window forgets the grid and closes.
    void detach();
    // The grid's marks changed; the chart follows them once the event loop is idle.
    void marksChanged() { m_refresh.start(); }
    // Draws the series at once instead of at the next idle moment.
    void refreshNow();

    void setXAxis(XAxis axis);
    void saveAs();     // "Сохранить…"
    void printChart(); // "Печать…"
    void resetZoom();  // "Сбросить масштаб"

    SeriesChart& chart() const { return *m_chart; }
    HistogramChart& histogram() const { return *m_histogram; }
    ChartView* chartView() const { return m_chartView; }
    StatisticsPanel& statistics() const { return *m_statistics; }
    QTabWidget* tabs() const { return m_tabs; }
    QSpinBox* binsBox() const { return m_bins; }
    QString note() const;

private:
    void CursorMoved() override {}
    void ViewReset(bool) override { m_refresh.start(); }
    void RecordChanged(uint32_t) override { m_refresh.start(); }
    void redrawHistogram();
    void recordClicked(int index);
    void setTable(ObservationTable* table);

    UserDialogs& m_dialogs;
    TDBGridPro* m_grid = nullptr;
    ObservationTable* m_table = nullptr;
    QString m_page, m_tableName;
    QChar m_decimal = QLatin1Char('.');
    XAxis m_axis = XAxis::Order;
    bool m_binsChosen = false; // the user set the bin count; a new series keeps it
    QTimer m_refresh;
    SeriesChart* m_chart;
    HistogramChart* m_histogram;
    ChartView* m_chartView;
    QTabWidget* m_tabs;
    QComboBox* m_xChoice;
    QComboBox* m_histogramValue;
    QSpinBox* m_bins;
    QLabel* m_note;
    StatisticsPanel* m_statistics;
};

// The figures of the page or of its marked rows in a small dialog of their own ("Статистика…").
void show_statistics(TDBGridPro* grid, const QString& page, QChar decimal, QWidget* parent);

} // namespace ulen3
