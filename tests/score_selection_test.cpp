// The -b list: items, ranges, every way a list ends, and the echo.
#include "score/score_selection.h"
#include "support.h"

TEST(ScoreSelection, ItemsRangesAndEveryWayAListEnds)
{
    // The list (nullptr: no -b given), columns, quiet, flags and the echo.
    const struct {
        const char* list;
        int columns, quiet;
        std::vector<int> flags;
        const char* echo;
    } cases[] = {
        {nullptr, 4, 0, {1, 1, 1, 1}, ""},
        {"1,2,5-6", 8, 0, {1, 1, 0, 0, 1, 1, 0, 0}, "1, 2, 5-6, \n"},
        {"6-5", 8, 0, {0, 0, 0, 0, 1, 1, 0, 0}, "5-6, \n"},
        {"3 - 5", 5, 0, {0, 0, 1, 1, 1}, "3-5, \n"},
        {" 2 ,, 4", 5, 0, {0, 1, 0, 1, 0}, "2, 4, \n"},
        {"1,2", 3, 1, {1, 1, 0}, ""},
        {"4-9", 5, 0, {0, 0, 0, 1, 1}, "4-9, \n"},
        // Ends of the whole list: a column beyond the last, a zero or a
        // sign where a number starts, a second hyphen, the end of the text.
        {"2,9,3", 5, 0, {0, 1, 0, 0, 0}, "2, 9, \n"},
        {"0,1", 3, 0, {0, 0, 0}, "\n"},
        {"", 3, 0, {0, 0, 0}, "\n"},
        {"3-5-7,1", 8, 0, {0, 0, 1, 1, 1, 0, 0, 0}, "3-5, \n"},
        {"3,-5,1", 5, 0, {0, 0, 1, 0, 0}, "3, \n"},
        {"3--5,1", 5, 0, {0, 0, 1, 0, 0}, "3, \n"},
        {"1", 0, 0, {}, "1, \n"},
        {"99999999999999999999999", 3, 0, {0, 0, 0}, "9223372036854775807, \n"},
        {"4-0,1", 5, 0, {0, 0, 0, 0, 0}, "0-4, \n"},  // touches no flag outside the columns
    };
    for (const auto& c : cases) {
        RunState state;
        state.coefficients.datacols = c.columns;
        state.options.quiet = c.quiet;
        if (c.list)
            state.options.flagline = c.list;
        testing::internal::CaptureStdout();
        parsereadflags(state);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.echo) << "[" << (c.list ? c.list : "no list") << "]";
        EXPECT_EQ(*state.coefficients.readflag, c.flags) << "[" << (c.list ? c.list : "no list") << "]";
    }
}
