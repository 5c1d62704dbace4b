// The page statistics: round1 as the program has always rounded, the figures and their texts.

#include "support/TableFixture.h"
#include "table/PageStatistics.h"

#include <gtest/gtest.h>

using namespace ulen3;
using namespace ulen3::test;

namespace {

TEST(PageStatistics, Round1GoesHalfUpwardForNegativeMeansToo) {
    EXPECT_DOUBLE_EQ(round1(5.0 / 3), 1.7);
    EXPECT_DOUBLE_EQ(round1(-1.25), -1.2);
    EXPECT_DOUBLE_EQ(round1(-1.26), -1.3);
    EXPECT_DOUBLE_EQ(round1(-1.24), -1.2);
    EXPECT_DOUBLE_EQ(round1(10.5), 10.5);
    EXPECT_DOUBLE_EQ(round1(0.04), 0);
}

TEST(PageStatistics, FiguresOfNoneOneAndManyValues) {
    FiguresOf none;
    EXPECT_EQ(none.figures().mean, 0);
    FiguresOf one;
    one.add(12.34);
    EXPECT_EQ(one.figures().mean, 12.34); // a single value is not rounded
    FiguresOf three;
    for (double v : {2.0, 1.0, 2.0})
        three.add(v);
    EXPECT_EQ(three.figures().min, 1);
    EXPECT_EQ(three.figures().max, 2);
    EXPECT_DOUBLE_EQ(three.figures().mean, 1.7);
}

TEST(PageStatistics, GeneralTextHasNoGroupSeparatorsAndTheGivenPoint) {
    EXPECT_EQ(general_text(12.5, ","), "12,5");
    EXPECT_EQ(general_text(1234567.25, ","), "1234567,25");
    EXPECT_EQ(general_text(0.1 + 0.2, "."), "0.3");
    EXPECT_EQ(general_text(-0.0, ","), "0");
    EXPECT_EQ(general_text(14, ","), "14");
    EXPECT_EQ(general_text(1e20, ","), "1e+20");
    EXPECT_EQ(figures_text({12.5, 13.2, 14}, ","), "12,5/13,2/14");
}

TEST_F(TableFixture, PageStatisticsReadEmptyValuesAsZeroAndLeaveRValuesAlone) {
    table.Open(createTable());
    appendRecords({100, 200});
    table.Append();
    table.SetInteger(Field::NB_TYPE, 0); // P and R empty
    table.Post();
    table.First();
    table.Edit();
    table.SetNumber(Field::R, 3);
    table.Post();
    const PageStatistics s = page_statistics(table.Records());
    EXPECT_EQ(s.p.min, 0);
    EXPECT_EQ(s.p.max, 200);
    EXPECT_EQ(s.p.mean, 100);
    EXPECT_EQ(s.r.min, 0);
    EXPECT_EQ(s.r.max, 3);
    EXPECT_EQ(s.r.mean, 1);
}

} // namespace

namespace {

// The command line prints what the footers show, in the user's locale.
TEST_F(TableFixture, CliStatsPrintsTheFooterTextsOfAPage) {
    const std::string path = createTable();
    table.Open(path);
    appendRecords({12.5, 13.1, 14});
    table.Close();
    const std::string cli = std::string("LC_ALL=ru_RU.UTF-8 ") + ULEN3_CLI + " stats " + path;
    EXPECT_EQ(run_command(cli + " 2>&1"), "P: 12,5/13,2/14\nR: 0/0/0\nN: 3\n");
    EXPECT_EQ(run_command(cli + " --page operative 2>&1"), "P: 0/0/0\nR: 0/0/0\nN: 0\n");
    int status = 0;
    run_command(cli + " --page nowhere 2>&1", &status);
    EXPECT_EQ(status, 2);
}

} // namespace
