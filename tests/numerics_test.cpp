// Standardization, projection and unstandardization to the last bit.
#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

#include "common/cpu.h"
#include "score/numerics.h"
#include "support.h"

namespace {

// Two variables, and one row of data and of scores.
struct TwoByTwo {
    RunState state;
    RowMatrix data{1, 2, {1.0, 5.0}};
    RowMatrix result{1, 2, {0.3, 1.3}};
};

TwoByTwo two_by_two()
{
    RunState state;
    state.coefficients.datacols = state.options.scores = 2;
    state.coefficients.std = std::vector<double>{3.0, 0.1};
    state.coefficients.mean = std::vector<double>{0.1, -2.0};
    state.coefficients.fsc = std::vector<double>{0.1, 0.2, 0.3, 0.7};
    return {state};
}

}  // namespace

// Both are two rounded operations; 0.3 * 3.0 + 0.1 and 1.3 * 0.1 - 2.0
// round differently when fused.
TEST(Numerics, StandardizeAndUnstandardizeRoundEachStep)
{
    for (int with_mean : {1, 0}) {
        SCOPED_TRACE(with_mean ? "with the means" : "without the means");
        auto [state, data, result] = two_by_two();
        state.options.sub_mean_from_input = state.options.add_mean_to_output = with_mean;
        const double mean0 = with_mean ? 0.1 : 0.0, mean1 = with_mean ? -2.0 : 0.0;
        standardize(state, data, 1);
        EXPECT_BITS_EQ((1.0 - mean0) / 3.0, data.row(0)[0]);
        EXPECT_BITS_EQ((5.0 - mean1) / 0.1, data.row(0)[1]);
        unstandardize(state, result, 1);
        EXPECT_BITS_EQ(0.3 * 3.0 + mean0, result.row(0)[0]);
        EXPECT_BITS_EQ(1.3 * 0.1 + mean1, result.row(0)[1]);
    }
}

TEST(Numerics, ProjectionFusesEachTermInOrderFromPlusZero)
{
    // 0.1*0.1 + 0.3*0.3 rounds differently fused than unfused.
    const double row[2] = {0.1, 0.3}, negative_zeros[2] = {-0.0, -0.0}, fsc[4] = {0.1, 0.0, 0.3, 0.0};
    double out[2];
    project_row(row, fsc, 2, 2, out);
    EXPECT_BITS_EQ(std::fma(0.3, 0.3, std::fma(0.1, 0.1, 0.0)), out[0]);
    EXPECT_BITS_EQ(+0.0, out[1]) << "a sum of zero products starts at +0.0";
    project_row(negative_zeros, fsc, 2, 2, out);
    EXPECT_BITS_EQ(+0.0, out[0]);

    auto [state, data, result] = two_by_two();
    state.options.scores = 1;
    scorix(state, data, result, 1);
    EXPECT_BITS_EQ(std::fma(5.0, 0.3, std::fma(1.0, 0.1, 0.0)), result.row(0)[0]);
    EXPECT_BITS_EQ(1.3, result.row(0)[1]) << "only the requested scores are computed";
}

// Each vector path; column counts around the register and tile widths and
// the term ranges; row counts with and without a partial group of four rows.
TEST(Numerics, BlockProjectionHasTheBitsOfTheRowByRowOne)
{
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> any(-3.0, 3.0);
    for (Vectors widest : {Vectors::avx512, Vectors::avx2, Vectors::none}) {
        limit_vectors(widest);
        for (int cols :
             {1, 2, 3, 4, 5, 7, 8, 9, 12, 15, 16, 17, 23, 24, 25, 31, 33, 127, 129, 255, 256, 257, 513, 600}) {
            for (int scores : {1, 3, cols / 2, cols}) {
                const int rows = cols > 256 ? 5 : 11;
                std::vector<double> fsc(cols * cols), data(rows * cols), expected(data.size(), 42.0), actual = expected;
                for (double& v : fsc)
                    v = any(rng);
                for (double& v : data)
                    v = any(rng);
                data[0] = -0.0;
                for (int r = 0; scores >= 1 && scores <= cols && r < rows; ++r)
                    project_row(&data[r * cols], fsc.data(), cols, scores, &expected[r * cols]);
                if (scores >= 1 && scores <= cols)
                    project_rows(data.data(), rows, fsc.data(), cols, scores, actual.data());
                for (std::size_t i = 0; i < data.size(); ++i)
                    ASSERT_EQ(bits(expected[i]), bits(actual[i]))
                        << "path " << static_cast<int>(widest) << ", " << cols << " columns, " << scores
                        << " scores, cell " << i << ": " << describe(actual[i]);
            }
        }
    }
    limit_vectors(Vectors::avx512);
}

// The slow checks replay the end-to-end tests with SCORIX_VECTORS=none and
// avx2, and this with them: a switch that no longer takes effect would let
// them pass on the widest path.
TEST(Cpu, VectorSwitchBoundsTheLevel)
{
    const std::string level = std::getenv("SCORIX_VECTORS") ? std::getenv("SCORIX_VECTORS") : "";
    if (level == "none" || level == "avx2") {
        EXPECT_LE(vectors(), level == "none" ? Vectors::none : Vectors::avx2);
    }
}
