// Standardization, projection and unstandardization to the last bit.
#include <cmath>

#include "numerics.h"
#include "support.h"

namespace {

RunState two_by_two()
{
    RunState state;
    state.datacols = 2;
    state.scores = 2;
    state.std = std::vector<double>{3.0, 0.1};
    state.mean = std::vector<double>{0.1, -2.0};
    state.fsc = std::vector<double>{0.1, 0.2, 0.3, 0.7};
    state.datarows = 1;
    state.data = RowMatrix{1, 2, {1.0, 5.0}};
    state.result = RowMatrix{1, 2, {0.0, 0.0}};
    return state;
}

}  // namespace

TEST(Numerics, StandardizeSubtractsThenDividesRoundingEach)
{
    RunState state = two_by_two();
    standardize(state);
    EXPECT_BITS_EQ((1.0 - 0.1) / 3.0, state.data.row(0)[0]);
    EXPECT_BITS_EQ((5.0 - -2.0) / 0.1, state.data.row(0)[1]);

    RunState no_mean = two_by_two();
    no_mean.sub_mean_from_input = 0;
    standardize(no_mean);
    EXPECT_BITS_EQ(1.0 / 3.0, no_mean.data.row(0)[0]);
}

TEST(Numerics, ProjectionFusesEachTermInOrder)
{
    // 0.1*0.1 + 0.3*0.3 rounds differently fused than unfused.
    const double row[2] = {0.1, 0.3};
    const double fsc[4] = {0.1, 0.0, 0.3, 0.0};
    double out[2];
    project_row(row, fsc, 2, 2, out);
    EXPECT_BITS_EQ(std::fma(0.3, 0.3, std::fma(0.1, 0.1, 0.0)), out[0]);
    EXPECT_NE(bits(out[0]), bits(0.1 * 0.1 + 0.3 * 0.3));
    EXPECT_BITS_EQ(+0.0, out[1]) << "a sum of zero products starts at +0.0";

    const double negative_zero_row[2] = {-0.0, -0.0};
    project_row(negative_zero_row, fsc, 2, 2, out);
    EXPECT_BITS_EQ(+0.0, out[0]);
}

TEST(Numerics, ProjectionComputesOnlyTheRequestedScores)
{
    RunState state = two_by_two();
    state.scores = 1;
    state.result.row(0)[1] = 42.0;
    scorix(state);
    EXPECT_BITS_EQ(std::fma(5.0, 0.3, std::fma(1.0, 0.1, 0.0)), state.result.row(0)[0]);
    EXPECT_EQ(state.result.row(0)[1], 42.0);
}

TEST(Numerics, UnstandardizeMultipliesThenAddsUnfused)
{
    RunState state = two_by_two();
    state.result.row(0)[0] = 0.7;
    state.result.row(0)[1] = 1.1;
    unstandardize(state);
    EXPECT_BITS_EQ(0.7 * 3.0 + 0.1, state.result.row(0)[0]);
    EXPECT_BITS_EQ(1.1 * 0.1 + -2.0, state.result.row(0)[1]);

    RunState no_mean = two_by_two();
    no_mean.add_mean_to_output = 0;
    no_mean.result.row(0)[0] = 0.7;
    unstandardize(no_mean);
    EXPECT_BITS_EQ(0.7 * 3.0, no_mean.result.row(0)[0]);
}

TEST(Numerics, ZeroDeviationGivesInfinityOrNan)
{
    RunState state = two_by_two();
    state.std = std::vector<double>{0.0, 0.0};
    state.data.row(0)[1] = -2.0;
    standardize(state);
    EXPECT_TRUE(std::isinf(state.data.row(0)[0]));
    EXPECT_TRUE(std::isnan(state.data.row(0)[1]));
}
