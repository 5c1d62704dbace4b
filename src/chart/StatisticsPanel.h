#pragma once

// The figures of P and R in a table the user can read and copy: count, minimum, maximum, mean,
// median, standard deviation, coefficient of variation and range, and how many were empty.

#include "chart/PageSeries.h"

#include <QWidget>

class QLabel;
class QTableWidget;

namespace ulen3 {

class StatisticsPanel : public QWidget {
public:
    explicit StatisticsPanel(QWidget* parent = nullptr);

    void setSeries(const PageSeries& series, const QString& titleP, const QString& titleR, QChar decimal);
    // The figures as text, one line per figure, the columns separated by tabs.
    QString text() const { return m_text; }
    QTableWidget* table() const { return m_table; }

private:
    QTableWidget* m_table;
    QLabel* m_note;
    QString m_text;
};

// The lines of the panel: a title line, then a figure's name and its value for P and for R.
QString statistics_text(const SeriesFigures& p, const SeriesFigures& r, const QString& titleP, const QString& titleR,
                        QChar decimal);

} // namespace ulen3
