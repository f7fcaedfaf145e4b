// The -b list: items, ranges, every way a list ends, and the echo.
#include "score_selection.h"
#include "support.h"

namespace {

struct Selection {
    std::vector<int> flags;
    std::string echo;
};

Selection select(const char* list, int columns, bool quiet = false)
{
    RunState state;
    state.datacols = columns;
    state.quiet = quiet;
    if (list)
        state.flagline = list;
    testing::internal::CaptureStdout();
    parsereadflags(state);
    return {*state.readflag, testing::internal::GetCapturedStdout()};
}

}  // namespace

TEST(ScoreSelection, WithoutAListEveryColumnIsReadSilently)
{
    Selection all = select(nullptr, 4);
    EXPECT_EQ(all.flags, (std::vector<int>{1, 1, 1, 1}));
    EXPECT_EQ(all.echo, "");
}

TEST(ScoreSelection, ItemsAndRangesInAnySpelling)
{
    Selection mixed = select("1,2,5-6", 8);
    EXPECT_EQ(mixed.flags, (std::vector<int>{1, 1, 0, 0, 1, 1, 0, 0}));
    EXPECT_EQ(mixed.echo, "1, 2, 5-6, \n");
    EXPECT_EQ(select("6-5", 8).echo, "5-6, \n");
    EXPECT_EQ(select("3 5", 5).flags, (std::vector<int>{0, 0, 1, 0, 1}));
    EXPECT_EQ(select("3 - 5", 5).flags, (std::vector<int>{0, 0, 1, 1, 1}));
    EXPECT_EQ(select(" 2 ,, 4", 5).flags, (std::vector<int>{0, 1, 0, 1, 0}));
    Selection quiet = select("1,2", 3, true);
    EXPECT_EQ(quiet.flags, (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(quiet.echo, "");
}

TEST(ScoreSelection, RangesAreClippedToTheColumns)
{
    Selection clipped = select("4-9", 5);
    EXPECT_EQ(clipped.flags, (std::vector<int>{0, 0, 0, 1, 1}));
    EXPECT_EQ(clipped.echo, "4-9, \n");
}

TEST(ScoreSelection, EndConditionsEndTheWholeList)
{
    Selection beyond = select("2,9,3", 5);
    EXPECT_EQ(beyond.flags, (std::vector<int>{0, 1, 0, 0, 0}));
    EXPECT_EQ(beyond.echo, "2, 9, \n");
    EXPECT_EQ(select("0,1", 3).echo, "\n");
    EXPECT_EQ(select("-1,1", 3).flags, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(select("", 3).echo, "\n");
    EXPECT_EQ(select("3-5-7,1", 8).flags, (std::vector<int>{0, 0, 1, 1, 1, 0, 0, 0}));
    EXPECT_EQ(select("3,-5,1", 5).flags, (std::vector<int>{0, 0, 1, 0, 0}));
    EXPECT_EQ(select("3--5,1", 5).flags, (std::vector<int>{0, 0, 1, 0, 0}));
    EXPECT_EQ(select("1", 0).echo, "1, \n");
    EXPECT_EQ(select("99999999999999999999999", 3).echo, "9223372036854775807, \n");
}

TEST(ScoreSelection, RangeDownToZeroTouchesNoFlagOutside)
{
    Selection zero = select("4-0,1", 5);
    EXPECT_EQ(zero.flags, (std::vector<int>{0, 0, 0, 0, 0}));
    EXPECT_EQ(zero.echo, "0-4, \n");
}
