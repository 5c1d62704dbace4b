#include "chart/SeriesStatistics.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace ulen3 {

namespace {

// Neumaier's compensated sum: exact to the last bit for the sums a table gives.
class Sum {
public:
    void add(double x) {
        const double t = m_sum + x;
        if (std::fabs(m_sum) >= std::fabs(x))
            m_carry += (m_sum - t) + x;
        else
            m_carry += (x - t) + m_sum;
        m_sum = t;
    }
    double value() const { return m_sum + m_carry; }

private:
    double m_sum = 0, m_carry = 0;
};

} // namespace

SeriesFigures series_figures(std::vector<double> values, int empty) {
    SeriesFigures f;
    f.count = static_cast<int>(values.size());
    f.empty = empty;
    if (values.empty())
        return f;
    const auto [lo, hi] = std::minmax_element(values.begin(), values.end());
    f.min = *lo;
    f.max = *hi;
    f.range = *hi - *lo;
    Sum sum;
    for (double v : values)
        sum.add(v);
    const double n = static_cast<double>(values.size());
    double mean = sum.value() / n;
    // All values equal: the mean is that value exactly, whatever the rounding of the sum.
    if (*lo == *hi)
        mean = *lo;
    f.mean = mean;
    if (values.size() >= 2) {
        Sum squares, deviations;
        for (double v : values) {
            const double d = v - mean;
            squares.add(d * d);
            deviations.add(d);
        }
        // The second term takes back what rounding the mean left in the deviations.
        const double ss = std::max(0.0, squares.value() - deviations.value() * deviations.value() / n);
        f.stdev = std::sqrt(ss / (n - 1));
        if (mean != 0)
            f.cv = 100.0 * *f.stdev / mean;
    }
    const size_t half = values.size() / 2;
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half), values.end());
    double median = values[half];
    if (values.size() % 2 == 0) {
        const double below = *std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(half));
        median = below / 2 + median / 2;
    }
    f.median = median;
    return f;
}

std::string json_number(const std::optional<double>& value) {
    if (!value || !std::isfinite(*value))
        return "null";
    char buf[32];
    const double v = *value == 0 ? 0.0 : *value; // no "-0"
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    return std::string(buf, end);
}

} // namespace ulen3
