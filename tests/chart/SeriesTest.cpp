// The series a chart draws and their figures: what the page gives, the moments of a time axis,
// the downsampling that must keep every spike, the histogram's bins and the JSON numbers.

#include "chart/PageSeries.h"
#include "chart/SeriesStatistics.h"
#include "support/TableFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace ulen3;
using namespace ulen3::test;

namespace {

TEST(RecordMoment, ReadsTheInstrumentsDateAndTimeAndRefusesImpossibleOnes) {
    const auto at = [](const char* d, const char* t) { return record_moment(d, t); };
    EXPECT_EQ(at("01.01.1970", "00:00:00"), 0);
    EXPECT_EQ(at("02.01.1970", "00:00:01"), 86'401'000);
    EXPECT_EQ(at("31.12.1969", "23:59:59"), -1000);
    EXPECT_EQ(at(" 01.01.1970 ", "00:01"), 60'000); // padded, and a time without seconds
    EXPECT_TRUE(at("29.02.2024", "12:00:00"));      // a leap year
    for (const auto& [d, t] : std::vector<std::pair<const char*, const char*>>{{"29.02.2023", "12:00:00"},
                                                                               {"31.04.2024", "12:00:00"},
                                                                               {"00.01.2024", "12:00:00"},
                                                                               {"01.13.2024", "12:00:00"},
                                                                               {"1.3.2024", "12:00:00"},
                                                                               {"", "12:00:00"},
                                                                               {"01.03.2024", ""},
                                                                               {"01.03.2024", "24:00:00"},
                                                                               {"01.03.2024", "12:60:00"},
                                                                               {"01.03.2024", "12-00-00"},
                                                                               {"01.03.2O24", "12:00:00"}})
        EXPECT_FALSE(at(d, t)) << d << " " << t;
}

TEST(SeriesFigures, EdgesOfCountMeanAndSpread) {
    const SeriesFigures none = series_figures({}, 0);
    EXPECT_EQ(none.count, 0);
    EXPECT_FALSE(none.min || none.mean || none.median || none.stdev || none.cv);

    const SeriesFigures one = series_figures({-2.5}, 0);
    EXPECT_EQ(one.mean, -2.5);
    EXPECT_EQ(one.median, -2.5);
    EXPECT_EQ(one.range, 0);
    EXPECT_FALSE(one.stdev); // n − 1 = 0
    EXPECT_FALSE(one.cv);

    // Equal values whose sum does not divide back exactly: the mean is the value, stdev 0.
    const SeriesFigures equal = series_figures(std::vector<double>(1000, 0.1), 0);
    EXPECT_EQ(equal.mean, 0.1);
    EXPECT_EQ(equal.stdev, 0);
    EXPECT_EQ(equal.cv, 0);

    // A mean of 0 has no coefficient of variation; the median of an even count is the middle pair's mean.
    const SeriesFigures zero = series_figures({-3, 3, -1, 1}, 2);
    EXPECT_EQ(zero.mean, 0);
    EXPECT_EQ(zero.median, 0);
    EXPECT_FALSE(zero.cv);
    EXPECT_EQ(zero.empty, 2);
    EXPECT_DOUBLE_EQ(*zero.stdev, std::sqrt(20.0 / 3));

    // Values far from 0 with a small spread: a one-pass formula would lose every digit here.
    const SeriesFigures far = series_figures({1e9 + 4, 1e9 + 7, 1e9 + 13, 1e9 + 16}, 0);
    EXPECT_EQ(far.mean, 1e9 + 10);
    EXPECT_DOUBLE_EQ(*far.stdev, std::sqrt(90.0 / 3));
    EXPECT_DOUBLE_EQ(*far.cv, 100 * std::sqrt(30.0) / (1e9 + 10));
}

TEST(JsonNumber, ShortestRoundTripAndNullWhereUndefined) {
    EXPECT_EQ(json_number(std::nullopt), "null");
    EXPECT_EQ(json_number(NAN), "null");
    EXPECT_EQ(json_number(-0.0), "0");
    EXPECT_EQ(json_number(0.1), "0.1");
    EXPECT_EQ(json_number(26.851999999999997), "26.851999999999997");
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> any(-1e6, 1e6);
    for (int i = 0; i < 1000; ++i) {
        const double v = any(random);
        EXPECT_EQ(std::stod(json_number(v)), v);
    }
}

// Keeping the first, lowest, highest and last point of every pixel column: a single spike among
// a million flat points survives, and no more than four points a column are drawn.
TEST(Downsampling, KeepsEverySpikeAndTheEdgesWithinFourPointsAColumn) {
    Curve c;
    const int n = 1'000'000;
    for (int i = 0; i < n; ++i) {
        c.x.push_back(i + 1.0);
        c.y.push_back(i == 654'321 ? 1e6 : i == 123'456 ? -1e6 : std::sin(i * 0.001));
        c.index.push_back(i);
    }
    const Curve all = downsampled(c, 1, n, 800);
    EXPECT_LE(all.x.size(), 4u * 800 + 2);
    EXPECT_EQ(*std::max_element(all.y.begin(), all.y.end()), 1e6);
    EXPECT_EQ(*std::min_element(all.y.begin(), all.y.end()), -1e6);
    EXPECT_EQ(all.index.front(), 0);
    EXPECT_EQ(all.index.back(), n - 1);
    EXPECT_TRUE(std::is_sorted(all.x.begin(), all.x.end()));

    // Zoomed in: one point either side so that the line reaches the plot's edges.
    const Curve zoomed = downsampled(c, 1000.5, 1010.5, 800);
    ASSERT_EQ(zoomed.x.size(), 12u);
    EXPECT_EQ(zoomed.x.front(), 1000);
    EXPECT_EQ(zoomed.x.back(), 1011);

    // Outside the data, and a curve of one point.
    EXPECT_EQ(downsampled(c, n + 10.0, n + 20.0, 800).x.size(), 1u);
    Curve single{{5}, {1}, {0}};
    EXPECT_EQ(downsampled(single, 5, 5, 800).x.size(), 1u);
    EXPECT_EQ(nearest_point(single, -100), 0);
    EXPECT_EQ(nearest_point(c, 2.49), 1);
    EXPECT_EQ(nearest_point(c, 2.51), 2);
    EXPECT_EQ(nearest_point(Curve{}, 1), -1);
}

TEST(Histogram, EqualBinsTheHighestValueInTheLastAndOneBinForEqualValues) {
    const Histogram h = histogram({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 5);
    ASSERT_EQ(h.counts.size(), 5u);
    EXPECT_EQ(h.edges.front(), 0);
    EXPECT_EQ(h.edges.back(), 10);
    EXPECT_EQ(h.counts, (std::vector<int>{2, 2, 2, 2, 3}));
    // 0.3 lies on an edge that 0.1 steps reach only with rounding: it goes to the bin it starts.
    const Histogram tenths = histogram({0, 0.1, 0.2, 0.3, 0.4, 0.5, 0.6, 0.7, 0.8, 0.9, 1.0}, 10);
    EXPECT_EQ(tenths.counts, (std::vector<int>{1, 1, 1, 1, 1, 1, 1, 1, 1, 2}));
    const Histogram same = histogram({4, 4, 4}, 12);
    EXPECT_EQ(same.counts, (std::vector<int>{3}));
    EXPECT_EQ(same.edges, (std::vector<double>{3.5, 4.5}));
    EXPECT_TRUE(histogram({}, 5).counts.empty());
    EXPECT_EQ(default_bins(0), 1);
    EXPECT_EQ(default_bins(40), 7);
    EXPECT_EQ(default_bins(200'000), 19);
}

class PageSeriesTest : public TableFixture {
protected:
    void SetUp() override {
        const std::string path = createTable();
        table.Open(path);
        // N, P, R, date; N 3 has no P, N 4 an unreadable date.
        const struct {
            double n;
            std::optional<double> p;
            double r;
            const char* date;
            const char* time;
        } rows[] = {{1, 5, 0.5, "02.03.2024", "10:00:00"},
                    {2, 1, 0.1, "01.03.2024", "10:00:00"},
                    {3, {}, 0.3, "01.03.2024", "09:00:00"},
                    {4, 9, 0.9, "31.02.2024", "10:00:00"},
                    {5, 2, 0.2, "02.03.2024", "10:00:00"}};
        for (const auto& row : rows) {
            table.Append();
            table.SetNumber(Field::N, row.n);
            table.SetInteger(Field::NB_TYPE, 0);
            if (row.p)
                table.SetNumber(Field::P, *row.p);
            table.SetNumber(Field::R, row.r);
            table.SetText(Field::DATE, row.date);
            table.SetText(Field::TIME, row.time);
            table.Post();
        }
        table.SetFilter("NB_TYPE=0");
    }
    std::vector<double> ns(const PageSeries& s) { return s.n; }
};

TEST_F(PageSeriesTest, ThePagesRecordsInItsOrderOrOnlyTwoOrMoreMarks) {
    table.AddTag("tab1", "P", true);
    table.SetIndexName("tab1");
    const PageSeries all = page_series(table.Records());
    EXPECT_EQ(ns(all), (std::vector<double>{4, 1, 5, 2, 3})); // P descending, the empty P last
    EXPECT_FALSE(all.marked);
    EXPECT_EQ(all.emptyP, 1);
    EXPECT_EQ(all.p.back(), 0); // counted as 0, as the footers count it
    EXPECT_EQ(all.figuresP().empty, 1);
    EXPECT_EQ(all.figuresP().mean, 17.0 / 5);

    // One mark is no choice; two are, in the page's order whatever the order of the marks.
    EXPECT_EQ(page_series(table.Records(), {2}).count(), 5);
    const PageSeries two = page_series(table.Records(), {2, 4});
    EXPECT_TRUE(two.marked);
    EXPECT_EQ(ns(two), (std::vector<double>{4, 2}));
    EXPECT_EQ(two.rows, (std::vector<int>{0, 3}));
}

TEST_F(PageSeriesTest, TheTimeAxisLeavesOutAnUnreadableDateAndKeepsThePagesOrderAmongEqualMoments) {
    const PageSeries s = page_series(table.Records());
    EXPECT_EQ(s.undated(), 1);
    const Curve byTime = curve_of(s, true, XAxis::Time);
    std::vector<double> order;
    for (int i : byTime.index)
        order.push_back(s.n[i]);
    EXPECT_EQ(order, (std::vector<double>{3, 2, 1, 5})); // N 4 left out; N 1 before N 5 at the same moment
    EXPECT_TRUE(std::is_sorted(byTime.x.begin(), byTime.x.end()));
    const Curve byOrder = curve_of(s, false, XAxis::Order);
    EXPECT_EQ(byOrder.x, (std::vector<double>{1, 2, 3, 4, 5}));
    EXPECT_EQ(byOrder.y, (std::vector<double>{5, 1, 0, 9, 2}));
}

TEST(StatisticsAgainstPython, FourTablesOfAnIndependentWriterAgreeWithTheStatisticsModule) {
    TempDir dir;
    int status = -1;
    const std::string out = run_command(
        "/usr/bin/python3 " ULEN3_TESTS_DIR "/stats_check.py " ULEN3_CLI " " + dir.path() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "OK\n");
}

} // namespace
