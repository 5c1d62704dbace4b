#pragma once

// The figures under the columns P and R of a page: minimum, mean and maximum, for the page's
// records or for the rows the user marked; and their footer texts.

#include <string>

namespace ulen3 {

class RecordView;

// Rounds to one decimal as the program always has: ⌊x ÷ 0.1 + 0.5⌋ × 0.1, so halves go upward,
// for negative values too (−1.25 gives −1.2).
double round1(double x);

struct Figures {
    double min = 0, mean = 0, max = 0;
};

// Minimum, maximum and sum of values given one by one; the mean rounded by round1.
class FiguresOf {
public:
    void add(double value);
    int count() const { return m_count; }
    Figures figures() const;

private:
    int m_count = 0;
    double m_min = 0, m_max = 0, m_sum = 0;
};

// The six page statistics.
struct PageStatistics {
    Figures p, r;
};

// find_mma over the page's records: with fewer than two records the figures are those of the
// only record (unrounded), or 0; an empty P or R counts as 0.
PageStatistics page_statistics(const RecordView& records);

// A number in the general form: the shortest text with up to 15 significant digits, no group
// separators, `decimalSeparator` for the point, an exponent only for very large or small values.
std::string general_text(double value, const std::string& decimalSeparator);

// "min/mean/max" in the general form.
std::string figures_text(const Figures& f, const std::string& decimalSeparator);

} // namespace ulen3
