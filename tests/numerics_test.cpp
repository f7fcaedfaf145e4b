// Standardization, projection and unstandardization to the last bit.
#include <cmath>
#include <random>

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

TEST(Numerics, BlockProjectionHasTheBitsOfTheRowByRowOne)
{
    // Column counts around the vector widths and the term ranges; row
    // counts with and without a partial group of four rows.
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> any(-3.0, 3.0);
    for (int cols : {1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 31, 255, 256, 257, 513, 600}) {
        for (int scores : {1, 3, cols / 2, cols}) {
            if (scores < 1 || scores > cols)
                continue;
            const int rows = cols > 256 ? 5 : 11;
            std::vector<double> fsc(static_cast<std::size_t>(cols) * cols);
            std::vector<double> data(static_cast<std::size_t>(rows) * cols);
            for (double& v : fsc)
                v = any(rng);
            for (double& v : data)
                v = any(rng);
            data[0] = -0.0;
            std::vector<double> expected(data.size(), 42.0);
            std::vector<double> actual(data.size(), 42.0);
            for (int r = 0; r < rows; ++r)
                project_row(&data[r * cols], fsc.data(), cols, scores, &expected[r * cols]);
            project_rows(data.data(), rows, fsc.data(), cols, scores, actual.data());
            for (std::size_t i = 0; i < data.size(); ++i)
                ASSERT_EQ(bits(expected[i]), bits(actual[i]))
                    << cols << " columns, " << scores << " scores, cell " << i << ": expected "
                    << describe(expected[i]) << ", got " << describe(actual[i]);
        }
    }
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
