#include "score/numerics.h"

#include <algorithm>
#include <cmath>

#include "common/cpu.h"
#include "common/vector_targets.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

void standardize(const RunState& state, RowMatrix& data, int rows)
{
    const double* mean =
        (state.options.sub_mean_from_input && state.coefficients.mean) ? state.coefficients.mean->data() : nullptr;
    const double* std = state.coefficients.std->data();
    for (int r = 0; r < rows; ++r) {
        double* row = data.row(r);
        for (int c = 0; c < state.coefficients.datacols; ++c) {
            double value = row[c];
            if (mean)
                value = value - mean[c];
            row[c] = value / std[c];
        }
    }
}

void project_row(const double* row, const double* fsc, int cols, int scores, double* out)
{
    for (int s = 0; s < scores; ++s) {
        double sum = +0.0;
        for (int k = 0; k < cols; ++k)
            sum = std::fma(row[k], fsc[static_cast<std::size_t>(k) * cols + s], sum);
        out[s] = sum;
    }
}

namespace {

#if defined(__x86_64__)

// The vector path: four output columns per register, each lane a sum of its
// own formed exactly as project_row forms it (start at +0.0, k ascending,
// one fused step per term), so only the speed differs.

// Four coefficients, or fewer through the mask for the last register.
[[SCORIX_TARGET_AVX2, gnu::always_inline]] inline __m256d load_lanes(const double* at, bool masked, __m256i lanes)
{
    return masked ? _mm256_maskload_pd(at, lanes) : _mm256_loadu_pd(at);
}

// A tile of kRows rows by kVectors x 4 output columns, over the terms k of
// [k_begin, k_end). The sums stay in registers across the terms: each
// coefficient load serves kRows rows and each broadcast data value kVectors
// registers. A tile that does not start at term 0 carries on from the
// partial sums in `out`, which hold them exactly. With kMasked the last
// register covers fewer than four columns.
template <int kRows, int kVectors, bool kMasked>
[[SCORIX_TARGET_AVX2, gnu::always_inline]] inline void fma_tile(const double* data, int cols, const double* fsc,
                                                                int k_begin, int k_end, int s, __m256i last_lanes,
                                                                double* out)
{
    __m256d sum[kRows][kVectors];
    for (int i = 0; i < kRows; ++i)
        for (int v = 0; v < kVectors; ++v)
            sum[i][v] = k_begin == 0 ? _mm256_setzero_pd()
                                     : load_lanes(out + static_cast<std::size_t>(i) * cols + s + 4 * v,
                                                  kMasked && v == kVectors - 1, last_lanes);
    const double* coefficients = fsc + static_cast<std::size_t>(k_begin) * cols + s;
    for (int k = k_begin; k < k_end; ++k, coefficients += cols) {
        __m256d b[kVectors];
        for (int v = 0; v < kVectors; ++v)
            b[v] = load_lanes(coefficients + 4 * v, kMasked && v == kVectors - 1, last_lanes);
        for (int i = 0; i < kRows; ++i) {
            __m256d a = _mm256_broadcast_sd(data + static_cast<std::size_t>(i) * cols + k);
            for (int v = 0; v < kVectors; ++v)
                sum[i][v] = _mm256_fmadd_pd(a, b[v], sum[i][v]);
        }
    }
    for (int i = 0; i < kRows; ++i) {
        for (int v = 0; v < kVectors; ++v) {
            double* at = out + static_cast<std::size_t>(i) * cols + s + 4 * v;
            if (kMasked && v == kVectors - 1)
                _mm256_maskstore_pd(at, last_lanes, sum[i][v]);
            else
                _mm256_storeu_pd(at, sum[i][v]);
        }
    }
}

// All score columns of kRows rows over one range of terms: whole tiles of
// eight columns, then the three to seven or one to four left over.
template <int kRows>
[[SCORIX_TARGET_AVX2]] inline void fma_rows(const double* data, int cols, const double* fsc, int k_begin, int k_end,
                                            int scores, double* out)
{
    int s = 0;
    for (; s + 8 <= scores; s += 8)
        fma_tile<kRows, 2, false>(data, cols, fsc, k_begin, k_end, s, __m256i{}, out);
    int left = scores - s;
    if (left == 0)
        return;
    const __m256i lane = _mm256_set_epi64x(3, 2, 1, 0);
    if (left > 4) {
        __m256i last = _mm256_cmpgt_epi64(_mm256_set1_epi64x(left - 4), lane);
        fma_tile<kRows, 2, true>(data, cols, fsc, k_begin, k_end, s, last, out);
    } else if (left == 4) {
        fma_tile<kRows, 1, false>(data, cols, fsc, k_begin, k_end, s, __m256i{}, out);
    } else {
        __m256i last = _mm256_cmpgt_epi64(_mm256_set1_epi64x(left), lane);
        fma_tile<kRows, 1, true>(data, cols, fsc, k_begin, k_end, s, last, out);
    }
}

// The rows of a block over ranges of kTerms terms, four rows at a time and
// then one by one, so the coefficients of one range of terms and one tile of
// columns stay in the first level cache while every row of the block passes;
// for 500 columns this is what takes the projection from memory speed to
// arithmetic speed. Inlined into each vector path (flattened), with its rows.
using RowsStep = void (*)(const double* data, int cols, const double* fsc, int k_begin, int k_end, int scores,
                          double* out);

template <int kTerms, RowsStep kFour, RowsStep kOne>
inline void project_in_ranges(const double* data, int rows, const double* fsc, int cols, int scores, double* out)
{
    for (int k_begin = 0; k_begin < cols; k_begin += kTerms) {
        int k_end = std::min(cols, k_begin + kTerms);
        int r = 0;
        for (; r + 4 <= rows; r += 4) {
            std::size_t at = static_cast<std::size_t>(r) * cols;
            kFour(data + at, cols, fsc, k_begin, k_end, scores, out + at);
        }
        for (; r < rows; ++r) {
            std::size_t at = static_cast<std::size_t>(r) * cols;
            kOne(data + at, cols, fsc, k_begin, k_end, scores, out + at);
        }
    }
}

// 256 terms by eight columns: 16 KB of coefficients.
[[SCORIX_TARGET_AVX2, gnu::flatten]] void project_rows_avx2(const double* data, int rows, const double* fsc, int cols,
                                                            int scores, double* out)
{
    project_in_ranges<256, fma_rows<4>, fma_rows<1>>(data, rows, fsc, cols, scores, out);
}

// The same tiles eight columns to a register where the CPU has AVX-512:
// 4 rows by 24 columns, twelve sums in registers; the last register of a
// row's columns is masked.
template <int kRows, int kVectors>
[[SCORIX_TARGET_AVX512, gnu::always_inline]] inline void
fma_tile512(const double* data, int cols, const double* fsc, int k_begin, int k_end, int s, __mmask8 last, double* out)
{
    auto lanes = [last](int v) { return v == kVectors - 1 ? last : static_cast<__mmask8>(0xFF); };
    __m512d sum[kRows][kVectors];
    for (int i = 0; i < kRows; ++i)
        for (int v = 0; v < kVectors; ++v)
            sum[i][v] = k_begin == 0
                            ? _mm512_setzero_pd()
                            : _mm512_maskz_loadu_pd(lanes(v), out + static_cast<std::size_t>(i) * cols + s + 8 * v);
    const double* coefficients = fsc + static_cast<std::size_t>(k_begin) * cols + s;
    for (int k = k_begin; k < k_end; ++k, coefficients += cols) {
        __m512d b[kVectors];
        for (int v = 0; v < kVectors; ++v)
            b[v] = _mm512_maskz_loadu_pd(lanes(v), coefficients + 8 * v);
        for (int i = 0; i < kRows; ++i) {
            __m512d a = _mm512_set1_pd(data[static_cast<std::size_t>(i) * cols + k]);
            for (int v = 0; v < kVectors; ++v)
                sum[i][v] = _mm512_fmadd_pd(a, b[v], sum[i][v]);
        }
    }
    for (int i = 0; i < kRows; ++i)
        for (int v = 0; v < kVectors; ++v)
            _mm512_mask_storeu_pd(out + static_cast<std::size_t>(i) * cols + s + 8 * v, lanes(v), sum[i][v]);
}

template <int kRows>
[[SCORIX_TARGET_AVX512]] inline void fma_rows512(const double* data, int cols, const double* fsc, int k_begin,
                                                 int k_end, int scores, double* out)
{
    int s = 0;
    for (; s + 24 <= scores; s += 24)
        fma_tile512<kRows, 3>(data, cols, fsc, k_begin, k_end, s, 0xFF, out);
    const int left = scores - s;
    const auto last = static_cast<__mmask8>(0xFF >> ((8 - left % 8) % 8));
    if (left > 16)
        fma_tile512<kRows, 3>(data, cols, fsc, k_begin, k_end, s, last, out);
    else if (left > 8)
        fma_tile512<kRows, 2>(data, cols, fsc, k_begin, k_end, s, last, out);
    else if (left > 0)
        fma_tile512<kRows, 1>(data, cols, fsc, k_begin, k_end, s, last, out);
}

// 128 terms by 24 columns: 24 KB of coefficients.
[[SCORIX_TARGET_AVX512, gnu::flatten]] void project_rows_avx512(const double* data, int rows, const double* fsc,
                                                                int cols, int scores, double* out)
{
    project_in_ranges<128, fma_rows512<4>, fma_rows512<1>>(data, rows, fsc, cols, scores, out);
}

#endif

}  // namespace

void project_rows(const double* data, int rows, const double* fsc, int cols, int scores, double* out)
{
#if defined(__x86_64__)
    const Vectors widest = vectors();
    if (widest == Vectors::avx512) {
        project_rows_avx512(data, rows, fsc, cols, scores, out);
        return;
    }
    if (widest == Vectors::avx2) {
        project_rows_avx2(data, rows, fsc, cols, scores, out);
        return;
    }
#endif
    for (int r = 0; r < rows; ++r) {
        std::size_t at = static_cast<std::size_t>(r) * cols;
        project_row(data + at, fsc, cols, scores, out + at);
    }
}

void scorix(const RunState& state, const RowMatrix& data, RowMatrix& result, int rows)
{
    project_rows(data.row(0), rows, state.coefficients.fsc->data(), state.coefficients.datacols, state.options.scores,
                 result.row(0));
}

void unstandardize(const RunState& state, RowMatrix& result, int rows)
{
    const double* mean =
        (state.options.add_mean_to_output && state.coefficients.mean) ? state.coefficients.mean->data() : nullptr;
    const double* std = state.coefficients.std->data();
    for (int r = 0; r < rows; ++r) {
        double* row = result.row(r);
        for (int c = 0; c < state.options.scores; ++c) {
            double value = row[c] * std[c];
            if (mean)
                value = value + mean[c];
            row[c] = value;
        }
    }
}
