// The row-wise arithmetic between reading and writing: standardization,
// the projection onto factor scores, and the undoing of standardization.
// Each works on rows 0 to rows - 1 of a block with the run's settings and
// coefficients, which it only reads: blocks may be worked on side by side.
#pragma once

#include "read/row_matrix.h"
#include "score/run_state.h"

// data[r][c] = (data[r][c] - mean[c]) / std[c], the mean only when present
// and subtracted by default.
void standardize(const RunState& state, RowMatrix& data, int rows);

// result[r][s] = sum over k of data[r][k] * fsc[k][s] for s < scores, each
// sum started at +0.0 and formed in k order with one fused step per term.
void scorix(const RunState& state, const RowMatrix& data, RowMatrix& result, int rows);

// result[r][c] = result[r][c] * std[c] + mean[c] for c < scores, as two
// rounded operations; the mean only when present and added by default.
void unstandardize(const RunState& state, RowMatrix& result, int rows);

// The projection of one row: out[s] for s < scores from `row` of `cols`
// values and the cols x cols matrix `fsc`, one std::fma per term. The
// portable path, and the reference the vector path is held to.
void project_row(const double* row, const double* fsc, int cols, int scores, double* out);

// The projection of `rows` rows of `cols` values each, stored one after the
// other, into `out` (a row of `cols` slots per row, the first `scores`
// written). Uses the CPU's widest vector fused multiply-add (AVX-512 or
// AVX2) when it has one; the bits are those of project_row either way.
void project_rows(const double* data, int rows, const double* fsc, int cols, int scores, double* out);
