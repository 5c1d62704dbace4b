#include "chart/PageSeries.h"

#include "table/ObservationTable.h"

#include <algorithm>
#include <cmath>

namespace ulen3 {

namespace {

// Digits at [at, at + n) as a number, or -1.
int digits(std::string_view s, size_t at, size_t n) {
    if (at + n > s.size())
        return -1;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return -1;
        v = v * 10 + (s[i] - '0');
    }
    return v;
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// Days from 01.01.1970 of a civil date (Howard Hinnant's algorithm).
int64_t days_from_civil(int y, int m, int d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<int64_t>(era) * 146097 + doe - 719468;
}

int days_in_month(int y, int m) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : days[m - 1];
}

} // namespace

std::optional<int64_t> record_moment(std::string_view date, std::string_view time) {
    date = trimmed(date);
    time = trimmed(time);
    if (date.size() != 10 || date[2] != '.' || date[5] != '.')
        return std::nullopt;
    const int d = digits(date, 0, 2), m = digits(date, 3, 2), y = digits(date, 6, 4);
    if (d < 1 || m < 1 || m > 12 || y < 1 || d > days_in_month(y, m))
        return std::nullopt;
    if ((time.size() != 8 && time.size() != 5) || time[2] != ':' || (time.size() == 8 && time[5] != ':'))
        return std::nullopt;
    const int hh = digits(time, 0, 2), mm = digits(time, 3, 2), ss = time.size() == 8 ? digits(time, 6, 2) : 0;
    if (hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 || ss > 59)
        return std::nullopt;
    return ((days_from_civil(y, m, d) * 24 + hh) * 60 + mm) * 60000LL + ss * 1000LL;
}

int PageSeries::undated() const {
    return static_cast<int>(std::count_if(moments.begin(), moments.end(), [](const auto& m) { return !m; }));
}

PageSeries page_series(const RecordView& page, const std::vector<uint32_t>& marked, bool texts) {
    PageSeries s;
    std::vector<uint32_t> chosen = marked;
    std::sort(chosen.begin(), chosen.end());
    s.marked = chosen.size() >= 2;
    const int n = s.marked ? static_cast<int>(chosen.size()) : page.Count();
    s.records.reserve(n);
    s.rows.reserve(n);
    s.p.reserve(n);
    s.r.reserve(n);
    if (texts) {
        s.n.reserve(n);
        s.date.reserve(n);
        s.time.reserve(n);
        s.moments.reserve(n);
    }
    for (int row = 0; row < page.Count(); ++row) {
        const uint32_t id = page.RecordId(row);
        if (s.marked && !std::binary_search(chosen.begin(), chosen.end(), id))
            continue;
        s.records.push_back(id);
        s.rows.push_back(row);
        s.emptyP += page.IsNull(row, Field::P);
        s.emptyR += page.IsNull(row, Field::R);
        s.p.push_back(page.Number(row, Field::P));
        s.r.push_back(page.Number(row, Field::R));
        if (!texts)
            continue;
        s.n.push_back(page.Number(row, Field::N));
        s.date.push_back(page.Text(row, Field::DATE));
        s.time.push_back(page.Text(row, Field::TIME));
        s.moments.push_back(record_moment(s.date.back(), s.time.back()));
    }
    return s;
}

Curve curve_of(const PageSeries& series, bool r, XAxis axis) {
    const std::vector<double>& values = r ? series.r : series.p;
    Curve c;
    std::vector<int> order;
    order.reserve(values.size());
    for (int i = 0; i < series.count(); ++i) {
        if (axis == XAxis::Order || series.moments[i])
            order.push_back(i);
    }
    if (axis == XAxis::Time) {
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return *series.moments[a] < *series.moments[b]; });
    }
    c.x.reserve(order.size());
    c.y.reserve(order.size());
    c.index = order;
    for (int i : order) {
        c.x.push_back(axis == XAxis::Order ? i + 1.0 : static_cast<double>(*series.moments[i]));
        c.y.push_back(values[i]);
    }
    return c;
}

Curve downsampled(const Curve& curve, double from, double to, int columns) {
    const auto begin = std::lower_bound(curve.x.begin(), curve.x.end(), from) - curve.x.begin();
    const auto end = std::upper_bound(curve.x.begin(), curve.x.end(), to) - curve.x.begin();
    // One point either side of the range, so the line reaches the edges of the plot.
    const ptrdiff_t first = std::max<ptrdiff_t>(0, begin - 1);
    const ptrdiff_t last = std::min<ptrdiff_t>(static_cast<ptrdiff_t>(curve.x.size()), end + 1);
    Curve out;
    auto keep = [&](ptrdiff_t i) {
        if (!out.index.empty() && out.index.back() == curve.index[i])
            return;
        out.x.push_back(curve.x[i]);
        out.y.push_back(curve.y[i]);
        out.index.push_back(curve.index[i]);
    };
    columns = std::max(columns, 1);
    if (last - first <= 4 * static_cast<ptrdiff_t>(columns) || !(to > from)) {
        for (ptrdiff_t i = first; i < last; ++i)
            keep(i);
        return out;
    }
    out.x.reserve(4 * columns + 2);
    out.y.reserve(4 * columns + 2);
    out.index.reserve(4 * columns + 2);
    if (first < begin)
        keep(first);
    const double scale = columns / (to - from);
    ptrdiff_t i = begin;
    while (i < end) {
        const long column = std::lround(std::floor((curve.x[i] - from) * scale));
        ptrdiff_t lo = i, hi = i, j = i;
        for (; j < end && std::lround(std::floor((curve.x[j] - from) * scale)) == column; ++j) {
            if (curve.y[j] < curve.y[lo])
                lo = j;
            if (curve.y[j] > curve.y[hi])
                hi = j;
        }
        keep(i);
        keep(std::min(lo, hi));
        keep(std::max(lo, hi));
        keep(j - 1);
        i = j;
    }
    if (end < last)
        keep(end);
    return out;
}

int nearest_point(const Curve& curve, double x) {
    if (curve.x.empty())
        return -1;
    const auto at = std::lower_bound(curve.x.begin(), curve.x.end(), x) - curve.x.begin();
    if (at == 0)
        return 0;
    if (at == static_cast<ptrdiff_t>(curve.x.size()))
        return static_cast<int>(at - 1);
    return static_cast<int>(x - curve.x[at - 1] <= curve.x[at] - x ? at - 1 : at);
}

Histogram histogram(const std::vector<double>& values, int bins) {
    Histogram h;
    if (values.empty())
        return h;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    if (*lo == *hi) {
        h.edges = {*lo - 0.5, *lo + 0.5};
        h.counts = {static_cast<int>(values.size())};
        return h;
    }
    bins = std::clamp(bins, 1, 1000);
    const double width = (*hi - *lo) / bins;
    h.edges.resize(bins + 1);
    // The span times i over the bins, divided last: an edge falls on the decimal a user expects
    // (0.3, not 0.30000000000000004), so a value written as 0.3 opens its bin.
    for (int i = 0; i <= bins; ++i)
        h.edges[i] = *lo + (*hi - *lo) * i / bins;
    h.edges[bins] = *hi;
    h.counts.assign(bins, 0);
    for (double v : values) {
        int bin = static_cast<int>((v - *lo) / width);
        bin = std::clamp(bin, 0, bins - 1);
        // Rounding may put a value on the wrong side of an edge it lies on.
        while (bin > 0 && v < h.edges[bin])
            --bin;
        while (bin < bins - 1 && v >= h.edges[bin + 1])
            ++bin;
        ++h.counts[bin];
    }
    return h;
}

int default_bins(int count) {
    if (count <= 1)
        return 1;
    return std::clamp(1 + static_cast<int>(std::ceil(std::log2(count))), 1, 100);
}

} // namespace ulen3
