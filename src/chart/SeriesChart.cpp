#include "chart/SeriesChart.h"

#include <QAreaSeries>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace ulen3 {

namespace {

constexpr int64_t kDayMs = 86400000;

// The axis value of a wall-clock moment: milliseconds from the epoch that the local clock
// shows as that moment, which is what a date axis labels. The offset is taken once per day.
class LocalClock {
public:
    double at(int64_t wall) {
        const int64_t day = wall >= 0 ? wall / kDayMs : (wall - kDayMs + 1) / kDayMs;
        auto it = m_offsets.find(day);
        if (it == m_offsets.end()) {
            const int64_t noon = day * kDayMs + kDayMs / 2;
            const QDateTime utc = QDateTime::fromMSecsSinceEpoch(noon, Qt::UTC);
            const QDateTime local(utc.date(), utc.time(), Qt::LocalTime);
            it = m_offsets.emplace(day, local.toMSecsSinceEpoch() - noon).first;
        }
        return static_cast<double>(wall + it->second);
    }

private:
    std::unordered_map<int64_t, int64_t> m_offsets;
};

QList<QPointF> points_of(const Curve& c) {
    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(c.x.size()));
    for (size_t i = 0; i < c.x.size(); ++i)
        points.append(QPointF(c.x[i], c.y[i]));
    return points;
}

// The lowest and highest value with a margin, so that the extremes are not drawn on the frame.
std::pair<double, double> padded(const std::vector<double>& v) {
    if (v.empty())
        return {0, 1};
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    const double span = *hi - *lo;
    const double pad = span > 0 ? span * 0.05 : std::max(std::fabs(*lo) * 0.05, 0.5);
    return {*lo - pad, *hi + pad};
}

void style_axis(QAbstractAxis* axis, const QColor& colour) {
    axis->setLinePenColor(colour);
    axis->setLabelsColor(colour);
    axis->setTitleBrush(colour);
}

// Axis labels with the user's decimal separator and no group separators.
void apply_decimal(QChart& chart, QChar decimal) {
    QLocale locale = decimal == QLatin1Char(',') ? QLocale(QLocale::Russian, QLocale::Russia) : QLocale::c();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    chart.setLocale(locale);
    chart.setLocalizeNumbers(true);
}

const QColor kColourP(0x1f, 0x5f, 0xbf);
const QColor kColourR(0xc0, 0x39, 0x2b);

} // namespace

QString chart_number(double value, QChar decimal) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", value == 0 ? 0.0 : value);
    QString text = QString::fromLatin1(buf);
    text.replace(QLatin1Char('.'), decimal);
    return text;
}

SeriesChart::SeriesChart() : m_lineP(new QLineSeries), m_lineR(new QLineSeries) {
    setAnimationOptions(QChart::NoAnimation);
    legend()->setAlignment(Qt::AlignTop);
    m_lineP->setColor(kColourP);
    m_lineR->setColor(kColourR);
    addSeries(m_lineP);
    addSeries(m_lineR);
    m_yP = new QValueAxis;
    m_yR = new QValueAxis;
    style_axis(m_yP, kColourP);
    style_axis(m_yR, kColourR);
    addAxis(m_yP, Qt::AlignLeft);
    addAxis(m_yR, Qt::AlignRight);
    m_lineP->attachAxis(m_yP);
    m_lineR->attachAxis(m_yR);
    connect(this, &QChart::plotAreaChanged, this, [this] { resample(); });
}

void SeriesChart::setSeries(PageSeries series, XAxis axis, const ChartTexts& texts, QChar decimal) {
    m_series = std::move(series);
    m_axis = axis;
    m_texts = texts;
    m_decimal = decimal;
    apply_decimal(*this, decimal);
    m_lineP->setName(texts.titleP);
    m_lineR->setName(texts.titleR);
    m_yP->setTitleText(texts.titleP);
    m_yR->setTitleText(texts.titleR);
    m_p = curve_of(m_series, false, axis);
    m_r = curve_of(m_series, true, axis);
    if (axis == XAxis::Time) {
        LocalClock clock;
        for (Curve* c : {&m_p, &m_r}) {
            for (size_t i = 0; i < c->x.size(); ++i)
                c->x[i] = clock.at(*m_series.moments[c->index[i]]);
        }
    }
    buildAxes();
    resetZoom();
}

void SeriesChart::buildAxes() {
    if (m_x) {
        m_lineP->detachAxis(m_x);
        m_lineR->detachAxis(m_x);
        removeAxis(m_x);
        delete m_x;
    }
    if (m_axis == XAxis::Time) {
        auto* t = new QDateTimeAxis;
        t->setFormat(QStringLiteral("dd.MM.yyyy<br>HH:mm"));
        t->setTitleText(QStringLiteral("Дата и время"));
        m_x = t;
    } else {
        auto* v = new QValueAxis;
        v->setLabelFormat(QStringLiteral("%.0f"));
        v->setTitleText(QStringLiteral("Запись по порядку страницы"));
        m_x = v;
    }
    addAxis(m_x, Qt::AlignBottom);
    m_lineP->attachAxis(m_x);
    m_lineR->attachAxis(m_x);
    auto resampleOnZoom = [this] { resample(); };
    if (auto* t = qobject_cast<QDateTimeAxis*>(m_x))
        connect(t, &QDateTimeAxis::rangeChanged, this, resampleOnZoom);
    else
        connect(static_cast<QValueAxis*>(m_x), &QValueAxis::rangeChanged, this, resampleOnZoom);
}

SeriesChart::Range SeriesChart::range() const {
    Range r{};
    if (auto* t = qobject_cast<QDateTimeAxis*>(m_x)) {
        r.x0 = static_cast<double>(t->min().toMSecsSinceEpoch());
        r.x1 = static_cast<double>(t->max().toMSecsSinceEpoch());
    } else {
        r.x0 = static_cast<QValueAxis*>(m_x)->min();
        r.x1 = static_cast<QValueAxis*>(m_x)->max();
    }
    r.p0 = m_yP->min();
    r.p1 = m_yP->max();
    r.r0 = m_yR->min();
    r.r1 = m_yR->max();
    return r;
}

void SeriesChart::setRange(const Range& r) {
    m_resampling = true; // one resample once every axis is set
    if (auto* t = qobject_cast<QDateTimeAxis*>(m_x))
        t->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(r.x0)),
                    QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(r.x1)));
    else
        static_cast<QValueAxis*>(m_x)->setRange(r.x0, r.x1);
    m_yP->setRange(r.p0, r.p1);
    m_yR->setRange(r.r0, r.r1);
    m_resampling = false;
    resample();
}

void SeriesChart::resetZoom() {
    Range r{};
    const Curve& longer = m_p.x.size() >= m_r.x.size() ? m_p : m_r;
    if (longer.x.empty()) {
        r.x0 = 0;
        r.x1 = m_axis == XAxis::Time ? kDayMs : 1;
    } else {
        r.x0 = longer.x.front();
        r.x1 = longer.x.back();
        if (r.x1 <= r.x0) {
            const double pad = m_axis == XAxis::Time ? kDayMs / 2.0 : 0.5;
            r.x0 -= pad;
            r.x1 += pad;
        }
    }
    std::tie(r.p0, r.p1) = padded(m_p.y);
    std::tie(r.r0, r.r1) = padded(m_r.y);
    setRange(r);
    // Ticks on round values; the range grows to them.
    m_resampling = true;
    m_yP->applyNiceNumbers();
    m_yR->applyNiceNumbers();
    m_resampling = false;
}

void SeriesChart::resample() {
    if (m_resampling || !m_x)
        return;
    m_resampling = true;
    const Range r = range();
    const int columns = std::max(1, static_cast<int>(plotArea().width()));
    m_lineP->replace(points_of(downsampled(m_p, r.x0, r.x1, columns)));
    m_lineR->replace(points_of(downsampled(m_r, r.x0, r.x1, columns)));
    m_resampling = false;
}

int SeriesChart::pointsDrawn() const { return static_cast<int>(m_lineP->count() + m_lineR->count()); }

int SeriesChart::recordAt(QPointF scenePos) {
    int best = -1;
    double bestDistance = 0;
    for (bool r : {false, true}) {
        const Curve& c = r ? m_r : m_p;
        QLineSeries* line = r ? m_lineR : m_lineP;
        const QPointF value = mapToValue(mapFromScene(scenePos), line);
        const int i = nearest_point(c, value.x());
        if (i < 0)
            continue;
        const QPointF at = mapToScene(mapToPosition(QPointF(c.x[i], c.y[i]), line));
        const double distance = std::hypot(at.x() - scenePos.x(), at.y() - scenePos.y());
        if (best < 0 || distance < bestDistance) {
            best = c.index[i];
            bestDistance = distance;
        }
    }
    return best;
}

QString SeriesChart::describe(int i) const {
    if (i < 0 || i >= m_series.count())
        return {};
    return QStringLiteral("N %1, %2 %3\n%4: %5\n%6: %7")
        .arg(chart_number(m_series.n[i], m_decimal), QString::fromStdString(m_series.date[i]),
             QString::fromStdString(m_series.time[i]), m_texts.titleP, chart_number(m_series.p[i], m_decimal),
             m_texts.titleR, chart_number(m_series.r[i], m_decimal));
}

QString SeriesChart::note() const {
    QStringList parts;
    if (m_series.marked)
        parts << QStringLiteral("Показаны только отмеченные строки: %1.").arg(m_series.count());
    if (m_axis == XAxis::Time) {
        const int undated = m_series.undated();
        if (undated > 0)
            parts << QStringLiteral("Записи без читаемых даты и времени не показаны: %1.").arg(undated);
    }
    return parts.join(QLatin1Char(' '));
}

HistogramChart::HistogramChart() {
    setAnimationOptions(QChart::NoAnimation);
    legend()->hide();
}

void HistogramChart::setValues(const std::vector<double>& values, int bins, const QString& title, QChar decimal) {
    apply_decimal(*this, decimal);
    removeAllSeries();
    for (QAbstractAxis* axis : axes())
        removeAxis(axis), delete axis;
    m_bins = histogram(values, bins);
    // The bars as one outline over the value axis: up the left edge of a bin, across, down.
    auto* upper = new QLineSeries;
    auto* lower = new QLineSeries;
    int highest = 0;
    for (size_t b = 0; b < m_bins.counts.size(); ++b) {
        const double left = m_bins.edges[b], right = m_bins.edges[b + 1];
        upper->append(left, 0);
        upper->append(left, m_bins.counts[b]);
        upper->append(right, m_bins.counts[b]);
        upper->append(right, 0);
        highest = std::max(highest, m_bins.counts[b]);
    }
    if (!m_bins.counts.empty()) {
        lower->append(m_bins.edges.front(), 0);
        lower->append(m_bins.edges.back(), 0);
    }
    m_area = new QAreaSeries(upper, lower);
    m_area->setName(title);
    m_area->setColor(QColor(0x1f, 0x5f, 0xbf, 0x90));
    m_area->setBorderColor(QColor(0x1f, 0x5f, 0xbf));
    addSeries(m_area);
    auto* x = new QValueAxis;
    x->setTitleText(title);
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("Записей"));
    y->setLabelFormat(QStringLiteral("%.0f"));
    addAxis(x, Qt::AlignBottom);
    addAxis(y, Qt::AlignLeft);
    m_area->attachAxis(x);
    m_area->attachAxis(y);
    if (!m_bins.counts.empty())
        x->setRange(m_bins.edges.front(), m_bins.edges.back());
    y->setRange(0, std::max(1, highest));
    y->applyNiceNumbers();
}

} // namespace ulen3
