#pragma once

// The figures of a series of values that a test report needs: count, minimum, maximum, mean,
// median, sample standard deviation, coefficient of variation and range, for P or R of a page or
// of the rows the user marked. An empty value counts as 0, as the footers count it, and is
// counted apart so that the reader knows how many there were.

#include <optional>
#include <string>
#include <vector>

namespace ulen3 {

struct SeriesFigures {
    int count = 0;
    int empty = 0; // values that were empty and count as 0
    // Undefined (empty) without values.
    std::optional<double> min, max, mean, median, range;
    // Sample standard deviation (n − 1): undefined for fewer than two values.
    std::optional<double> stdev;
    // 100 · stdev / mean, in %: undefined without a stdev or with a mean of 0.
    std::optional<double> cv;
};

// `values` holds every value of the series, an empty one as 0; `empty` says how many were empty.
// The sums are compensated and the deviation taken about the mean in a second pass, so the
// figures keep full precision for values of any size and sign.
SeriesFigures series_figures(std::vector<double> values, int empty);

// A number as JSON: the shortest text that reads back as the same double, or null.
std::string json_number(const std::optional<double>& value);

} // namespace ulen3
