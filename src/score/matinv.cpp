#include "score/matinv.h"

#include <cmath>
#include <cstddef>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "common/cpu.h"
#include "common/vector_targets.h"

namespace {

struct Matrix {
    double* a;
    int lda;
    double& at(int i, int j) const { return a[static_cast<std::size_t>(i) * lda + j]; }
};

// Row of the largest magnitude in column k from row k down; the first one
// wins a tie and a NaN never wins. -1 when every candidate is zero or NaN.
int find_pivot(const Matrix& m, int n, int k)
{
    double maximum = 0.0;
    int pivot = -1;
    for (int i = k; i < n; ++i) {
        double magnitude = std::fabs(m.at(i, k));
        if (magnitude - maximum > 0.0) {
            maximum = magnitude;
            pivot = i;
        }
    }
    return pivot;
}

void scale_pivot_row(const Matrix& m, int n, int k, double pivot)
{
    m.at(k, k) = 1.0;
    double reciprocal = 1.0 / pivot;
    for (int j = 0; j < n; ++j)
        m.at(k, j) = m.at(k, j) * reciprocal;
}

// row[j] = -(pivot[j] * t - row[j]) for j < n, the product and difference
// fused: -0.0 on exact cancellation, as the inverse's signed zeros rely on.
void subtract_row(const double* pivot, double t, double* row, int n)
{
    for (int j = 0; j < n; ++j)
        row[j] = -std::fma(pivot[j], t, -row[j]);
}

#if defined(__x86_64__)
// The same four elements at a time (the last ones through a lane mask) with
// the processor's fused multiply-subtract, p * t - x in one rounding, which
// is fma(p, t, -x), and the sign bit flipped as unary minus flips it. No
// scalar std::fma here: where FMA instructions are enabled the compiler
// turns -fma(p, t, -x) into the negated multiply-add x - p * t, which gives
// +0.0 instead of -0.0 on exact cancellation.
[[SCORIX_TARGET_AVX2]] void subtract_row_avx2(const double* pivot, double t, double* row, int n)
{
    const __m256d factor = _mm256_set1_pd(t);
    const __m256d sign = _mm256_set1_pd(-0.0);
    for (int j = 0; j < n; j += 4) {
        const __m256i lanes = _mm256_cmpgt_epi64(_mm256_set1_epi64x(n - j), _mm256_set_epi64x(3, 2, 1, 0));
        const __m256d difference =
            _mm256_fmsub_pd(_mm256_maskload_pd(pivot + j, lanes), factor, _mm256_maskload_pd(row + j, lanes));
        _mm256_maskstore_pd(row + j, lanes, _mm256_xor_pd(difference, sign));
    }
}
#endif

// Subtracts t times the pivot row from every other row with t != 0.
void eliminate(const Matrix& m, int n, int k)
{
    auto subtract = subtract_row;
#if defined(__x86_64__)
    if (vectors() != Vectors::none)
        subtract = subtract_row_avx2;
#endif
    for (int i = 0; i < n; ++i) {
        if (i == k)
            continue;
        double t = m.at(i, k);
        if (t == 0.0)
            continue;
        m.at(i, k) = 0.0;
        subtract(&m.at(k, 0), t, &m.at(i, 0), n);
    }
}

void swap_columns(const Matrix& m, int n, int c1, int c2)
{
    for (int i = 0; i < n; ++i)
        std::swap(m.at(i, c1), m.at(i, c2));
}

}  // namespace

void matinv(int* status, int n, int m, double* a, int lda, int* ipvt, double* det)
{
    *status = 1;
    if (n < 1 || n > lda || m != n) {
        *status = 3;
        return;
    }
    *det = 1.0;
    const Matrix matrix{a, lda};
    for (int k = 0; k < n; ++k) {
        int p = find_pivot(matrix, n, k);
        if (p < 0) {
            *det = 0.0;
            *status = 2;
            return;
        }
        ipvt[k] = p;
        if (p > k) {
            for (int j = 0; j < lda; ++j)
                std::swap(matrix.at(p, j), matrix.at(k, j));
            *det = -*det;
        }
        double pivot = matrix.at(k, k);
        // The running determinant may underflow to zero for a regular matrix
        // of many variables; only a zero pivot column makes it singular.
        *det = *det * pivot;
        scale_pivot_row(matrix, n, k, pivot);
        eliminate(matrix, n, k);
    }
    for (int k = n - 1; k >= 0; --k)
        if (ipvt[k] > k)
            swap_columns(matrix, n, k, ipvt[k]);
}
