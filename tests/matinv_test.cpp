// Gauss-Jordan inversion: pivot choice, signed zeros, singular and
// rejected matrices, to the bit.
#include <cmath>
#include <limits>
#include <random>

#include "matinv.h"
#include "support.h"

namespace {

struct Inversion {
    int status = -1;
    int flag = -1;
    double det = 0.0;
    std::vector<int> ipvt;
    std::vector<double> a;
};

Inversion invert(std::vector<double> a, int n, int m = -1, int lda = -1)
{
    Inversion out;
    out.a = std::move(a);
    out.ipvt.assign(static_cast<std::size_t>(std::max(n, 1)), -7);
    out.det = 123.0;
    matinv(&out.status, &out.flag, n, m < 0 ? n : m, out.a.data(), lda < 0 ? n : lda, out.ipvt.data(), &out.det);
    return out;
}

void expect_matrix_bits(const std::vector<double>& expected, const std::vector<double>& actual)
{
    ASSERT_EQ(expected.size(), actual.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_BITS_EQ(expected[i], actual[i]) << " at element " << i;
}

}  // namespace

TEST(Matinv, InvertsOneByOne)
{
    Inversion five = invert({5.0}, 1);
    EXPECT_EQ(five.status, 1);
    EXPECT_EQ(five.flag, 1);
    EXPECT_BITS_EQ(0.2, five.a[0]);
    EXPECT_BITS_EQ(5.0, five.det);
    EXPECT_EQ(five.ipvt[0], 0);
    Inversion minus_four = invert({-4.0}, 1);
    EXPECT_BITS_EQ(-0.25, minus_four.a[0]);
    EXPECT_BITS_EQ(-4.0, minus_four.det);
}

TEST(Matinv, PivotsOnTheFirstLargestMagnitude)
{
    Inversion identity = invert({1, 0, 0, 0, 1, 0, 0, 0, 1}, 3);
    EXPECT_EQ(identity.status, 1);
    expect_matrix_bits({1, 0, 0, 0, 1, 0, 0, 0, 1}, identity.a);
    EXPECT_EQ(identity.ipvt, (std::vector<int>{0, 1, 2}));
    EXPECT_BITS_EQ(1.0, identity.det);

    Inversion swapped = invert({0, 1, 1, 0}, 2);
    EXPECT_EQ(swapped.ipvt, (std::vector<int>{1, 1}));
    EXPECT_BITS_EQ(-1.0, swapped.det);
    EXPECT_EQ(swapped.a, (std::vector<double>{0, 1, 1, 0}));

    Inversion tie = invert({-2, 1, 2, 5}, 2);
    EXPECT_EQ(tie.ipvt, (std::vector<int>{0, 1}));
    EXPECT_BITS_EQ(-12.0, tie.det);
}

TEST(Matinv, ReproducesTheLastBitsOfTheEliminationOrder)
{
    Inversion inv = invert({1, 2, 3, 4}, 2);
    EXPECT_EQ(inv.status, 1);
    EXPECT_EQ(inv.ipvt, (std::vector<int>{1, 1}));
    EXPECT_BITS_EQ(-2.0, inv.det);
    expect_matrix_bits({-1.9999999999999996, 0.9999999999999998, 1.4999999999999998, -0.4999999999999999}, inv.a);
}

TEST(Matinv, StopsOnAZeroPivotColumnLeavingTheWorkDone)
{
    Inversion zero = invert({0.0}, 1);
    EXPECT_EQ(zero.status, 2);
    EXPECT_BITS_EQ(0.0, zero.det);
    EXPECT_EQ(zero.ipvt[0], -7) << "untouched";
    EXPECT_BITS_EQ(0.0, zero.a[0]);

    Inversion singular = invert({1, 2, 2, 4}, 2);
    EXPECT_EQ(singular.status, 2);
    EXPECT_BITS_EQ(0.0, singular.det);
    EXPECT_EQ(singular.ipvt, (std::vector<int>{1, -7}));
    expect_matrix_bits({0.5, 2.0, -0.5, -0.0}, singular.a);

    Inversion nine = invert({1, 2, 3, 4, 5, 6, 7, 8, 9}, 3);
    EXPECT_EQ(nine.status, 2);
    EXPECT_EQ(nine.ipvt[0], 2);
    EXPECT_EQ(nine.ipvt[1], 2);

    double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(invert({nan, 1, 0, 1}, 2).status, 2) << "a NaN is never a pivot";
}

TEST(Matinv, InvertsWhenOnlyTheDeterminantUnderflows)
{
    Inversion tiny = invert({1e-200, 0, 0, 1e-200}, 2);
    EXPECT_EQ(tiny.status, 1);
    EXPECT_BITS_EQ(0.0, tiny.det);
    expect_matrix_bits({1e200, 0, 0, 1e200}, tiny.a);

    Inversion signed_tiny = invert({-1e-200, 0, 0, 1e-200}, 2);
    EXPECT_EQ(signed_tiny.status, 1);
    EXPECT_BITS_EQ(-0.0, signed_tiny.det);

    Inversion huge = invert({1e200, 0, 0, 1e200}, 2);
    EXPECT_EQ(huge.status, 1);
    EXPECT_TRUE(std::isinf(huge.det));
    expect_matrix_bits({1e-200, 0, 0, 1e-200}, huge.a);
}

TEST(Matinv, HasNoTolerance)
{
    Inversion inv = invert({0.1, 0.3, 0.2, 0.6}, 2);
    EXPECT_EQ(inv.status, 1);
    EXPECT_NEAR(inv.det, 5.55e-18, 0.01e-18);
    EXPECT_GT(std::fabs(inv.a[0]), 1e16);
}

TEST(Matinv, RejectsBadArgumentsWritingNothing)
{
    for (auto [n, m, lda] : {std::tuple{0, 0, 1}, std::tuple{2, 2, 1}, std::tuple{1, 0, 1}}) {
        Inversion out = invert({9.0, 9.0}, n, m, lda);
        EXPECT_EQ(out.status, 3);
        EXPECT_EQ(out.flag, 1);
        EXPECT_BITS_EQ(123.0, out.det);
        EXPECT_EQ(out.a, (std::vector<double>{9.0, 9.0}));
    }
}

TEST(Matinv, InverseTimesMatrixIsTheIdentity)
{
    const int n = 60;
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    std::vector<double> a(n * n);
    for (double& v : a)
        v = value(rng);
    Inversion inv = invert(a, n);
    ASSERT_EQ(inv.status, 1);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            double sum = 0;
            for (int k = 0; k < n; ++k)
                sum += a[i * n + k] * inv.a[k * n + j];
            EXPECT_NEAR(sum, i == j ? 1.0 : 0.0, 1e-9);
        }
}
