// Gauss-Jordan inversion: pivots, signed zeros, singular matrices, to the bit.
#include <cmath>
#include <limits>
#include <random>

#include "common/cpu.h"
#include "score/matinv.h"
#include "support.h"

// The matrix, status, determinant, pivot rows (-7: unwritten), matrix left.
TEST(Matinv, InvertsOrStopsToTheBit)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        std::vector<double> a;
        int status;
        double det;
        std::vector<int> ipvt;
        std::vector<double> left;
    } cases[] = {
        {"one by one", {5.0}, 1, 5.0, {0}, {0.2}},
        {"negative one by one", {-4.0}, 1, -4.0, {0}, {-0.25}},
        {"identity", {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1, 1.0, {0, 1, 2}, {1, 0, 0, 0, 1, 0, 0, 0, 1}},
        {"largest magnitude pivots", {0, 1, 1, 0}, 1, -1.0, {1, 1}, {0, 1, 1, 0}},
        {"a tie keeps the first row", {-2, 1, 2, 5}, 1, -12.0, {0, 1}, {-5.0 / 12, 1.0 / 12, 1.0 / 6, 1.0 / 6}},
        {"elimination order",
         {1, 2, 3, 4},
         1,
         -2.0,
         {1, 1},
         {-1.9999999999999996, 0.9999999999999998, 1.4999999999999998, -0.4999999999999999}},
        {"no tolerance",
         {0.1, 0.3, 0.2, 0.6},
         1,
         0x1.999999999999ap-58,
         {1, 1},
         {0x1.8p+56, -0x1.7ffffffffffffp+55, -0x1p+55, 0x1p+54}},
        {"zero", {0.0}, 2, 0.0, {-7}, {0.0}},
        {"singular, half eliminated", {1, 2, 2, 4}, 2, 0.0, {1, -7}, {0.5, 2.0, -0.5, -0.0}},
        {"singular at the last step", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 2, 0.0, {2, 2, -7}, {}},
        {"a NaN is never a pivot", {nan, 1, 0, 1}, 2, 0.0, {-7, -7}, {nan, 1, 0, 1}},
        {"determinant underflows", {1e-200, 0, 0, 1e-200}, 1, 0.0, {0, 1}, {1e200, 0, 0, 1e200}},
        {"negative determinant underflows", {-1e-200, 0, 0, 1e-200}, 1, -0.0, {0, 1}, {-1e200, -0.0, 0, 1e200}},
        {"determinant overflows", {1e200, 0, 0, 1e200}, 1, HUGE_VAL, {0, 1}, {1e-200, 0, 0, 1e-200}},
    };
    for (auto c : cases) {
        SCOPED_TRACE(c.name);
        const int n = static_cast<int>(std::lround(std::sqrt(c.a.size())));
        int status = -1;
        double det = 123.0;
        std::vector<int> ipvt(n, -7);
        matinv(&status, n, n, c.a.data(), n, ipvt.data(), &det);
        EXPECT_EQ(status, c.status);
        EXPECT_BITS_EQ(c.det, det);
        EXPECT_EQ(ipvt, c.ipvt);
        for (std::size_t i = 0; i < c.left.size(); ++i)
            EXPECT_BITS_EQ(c.left[i], c.a[i]) << " at element " << i;
    }
}

// The vector elimination against the portable one, on sizes with and
// without a partial group of four columns; mostly zeros and small integers,
// which cancel exactly and tell the signs of zeros apart.
TEST(Matinv, VectorPathHasThePortableBits)
{
    std::mt19937_64 rng(7);
    for (int n : {4, 5, 9, 37}) {
        std::vector<double> a(n * n);
        for (double& v : a)
            v = rng() % 2 ? 0.0 : static_cast<double>(static_cast<int>(rng() % 7) - 3);
        std::vector<double> results[2];
        for (Vectors widest : {Vectors::none, Vectors::avx512}) {
            limit_vectors(widest);
            std::vector<double> left = a;
            std::vector<int> ipvt(n);
            int status = 0;
            double det = 0.0;
            matinv(&status, n, n, left.data(), n, ipvt.data(), &det);
            left.push_back(det);
            left.push_back(status);
            left.insert(left.end(), ipvt.begin(), ipvt.end());
            results[widest == Vectors::none ? 0 : 1] = left;
        }
        limit_vectors(Vectors::avx512);
        for (std::size_t i = 0; i < results[0].size(); ++i)
            ASSERT_EQ(bits(results[0][i]), bits(results[1][i])) << n << " x " << n << ", element " << i;
    }
}
