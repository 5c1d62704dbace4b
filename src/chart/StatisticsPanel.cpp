#include "chart/StatisticsPanel.h"

#include "chart/SeriesChart.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <array>

namespace ulen3 {

namespace {

struct Row {
    const char* name;
    std::optional<double> SeriesFigures::*value;
};
const Row kRows[] = {
    {"Минимум", &SeriesFigures::min},
    {"Максимум", &SeriesFigures::max},
    {"Среднее", &SeriesFigures::mean},
    {"Медиана", &SeriesFigures::median},
    {"Стандартное отклонение", &SeriesFigures::stdev},
    {"Коэффициент вариации, %", &SeriesFigures::cv},
    {"Размах", &SeriesFigures::range},
};

QString value_text(const std::optional<double>& v, QChar decimal) {
    return v ? chart_number(*v, decimal) : QStringLiteral("—");
}

// The table's cells: the count first, then every figure, for P and R.
std::vector<std::array<QString, 3>> cells(const SeriesFigures& p, const SeriesFigures& r, QChar decimal) {
    std::vector<std::array<QString, 3>> rows;
    rows.push_back({QStringLiteral("Записей"), QString::number(p.count), QString::number(r.count)});
    for (const Row& row : kRows)
        rows.push_back(
            {QString::fromUtf8(row.name), value_text(p.*row.value, decimal), value_text(r.*row.value, decimal)});
    rows.push_back({QStringLiteral("Пустых (считаются как 0)"), QString::number(p.empty), QString::number(r.empty)});
    return rows;
}

} // namespace

QString statistics_text(const SeriesFigures& p, const SeriesFigures& r, const QString& titleP, const QString& titleR,
                        QChar decimal) {
    QString text = QStringLiteral("\t%1\t%2\n").arg(titleP, titleR);
    for (const auto& row : cells(p, r, decimal))
        text += row[0] + QLatin1Char('\t') + row[1] + QLatin1Char('\t') + row[2] + QLatin1Char('\n');
    return text;
}

StatisticsPanel::StatisticsPanel(QWidget* parent) : QWidget(parent), m_table(new QTableWidget), m_note(new QLabel) {
    m_table->setColumnCount(2);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->setSelectionMode(QAbstractItemView::ContiguousSelection);
    auto* copy = new QPushButton(QStringLiteral("Копировать"));
    copy->setToolTip(QStringLiteral("Скопировать показатели как текст"));
    connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(m_text); });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_note, 1);
    bottom->addWidget(copy);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_table);
    layout->addLayout(bottom);
}

void StatisticsPanel::setSeries(const PageSeries& series, const QString& titleP, const QString& titleR, QChar decimal) {
    const SeriesFigures p = series.figuresP(), r = series.figuresR();
    const auto rows = cells(p, r, decimal);
    m_table->setHorizontalHeaderLabels({titleP, titleR});
    m_table->setRowCount(static_cast<int>(rows.size()));
    QStringList names;
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        names << rows[i][0];
        for (int c = 0; c < 2; ++c) {
            auto* item = new QTableWidgetItem(rows[i][c + 1]);
            item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            m_table->setItem(i, c, item);
        }
    }
    m_table->setVerticalHeaderLabels(names);
    // Every figure in sight: the table as tall as its rows.
    m_table->setFixedHeight(m_table->verticalHeader()->length() + m_table->horizontalHeader()->sizeHint().height() +
                            2 * m_table->frameWidth());
    m_note->setText(series.marked ? QStringLiteral("По отмеченным строкам: %1.").arg(series.count())
                                  : QStringLiteral("По всем записям страницы: %1.").arg(series.count()));
    m_text = statistics_text(p, r, titleP, titleR, decimal);
}

} // namespace ulen3
