#pragma once

// The series a chart draws: the records of a page as shown (its filter and sort), or only the
// rows the user marked, with P and R and the moment each was taken; and what a chart's axis
// needs of them.

#include "chart/SeriesStatistics.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ulen3 {

class RecordView;

// The moment of a record's DATE ("дд.мм.гггг") and TIME ("чч:мм:сс" or "чч:мм"), in
// milliseconds from 01.01.1970 as read on a wall clock (no time zone); none when either cannot
// be read (an impossible day such as 31.02 included).
std::optional<int64_t> record_moment(std::string_view date, std::string_view time);

struct PageSeries {
    // One entry per record, in the page's order as shown.
    std::vector<uint32_t> records;
    std::vector<int> rows; // the record's row in the page
    std::vector<double> n, p, r;
    std::vector<std::string> date, time; // as stored
    std::vector<std::optional<int64_t>> moments;
    int emptyP = 0, emptyR = 0;
    bool marked = false; // only the rows the user marked

    int count() const { return static_cast<int>(records.size()); }
    // How many records have no moment a time axis could place.
    int undated() const;
    SeriesFigures figuresP() const { return series_figures(p, emptyP); }
    SeriesFigures figuresR() const { return series_figures(r, emptyR); }
};

// The page's records; when `marked` holds two or more records, only those, still in the page's
// order (fewer marks are no choice, as for the footers).
// `texts`: with N, DATE, TIME and the moments; without them only what the figures need.
PageSeries page_series(const RecordView& page, const std::vector<uint32_t>& marked = {}, bool texts = true);

// The points of one curve: x ascending, the index of each point's record in its series.
struct Curve {
    std::vector<double> x, y;
    std::vector<int> index;
};

enum class XAxis { Order, Time };

// P or R over the record order (x = 1, 2, … as the page shows them) or over time (records
// without a moment are left out; the rest in time order, the page's order among equal moments).
Curve curve_of(const PageSeries& series, bool r, XAxis axis);

// The curve as drawn `columns` pixels wide between x = from and x = to: in each pixel column
// the first, lowest, highest and last point, in order, so that no spike is lost; the points
// either side of the range are kept so the line runs to the edge. A curve with no more points
// than four per column comes back whole.
Curve downsampled(const Curve& curve, double from, double to, int columns);

// The index of the curve's point nearest to x (-1 for an empty curve).
int nearest_point(const Curve& curve, double x);

// Bins of equal width from the lowest to the highest value; the highest value falls into the
// last bin. All values equal: one bin of width 1 around them, whatever was asked.
struct Histogram {
    std::vector<double> edges; // bins + 1 edges
    std::vector<int> counts;
};
Histogram histogram(const std::vector<double>& values, int bins);
// Sturges' rule, 1 + ⌈log₂ n⌉, between 1 and 100.
int default_bins(int count);

} // namespace ulen3
