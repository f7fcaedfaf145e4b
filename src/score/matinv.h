// In-place inversion of a square matrix by Gauss-Jordan elimination with
// partial pivoting; the determinant comes along.
#pragma once

// Inverts the n x n matrix `a` (row i, column j at a[i*lda + j]) in place.
// status: 1 inverted, 2 singular (a pivot column is zero from the pivot row
// down; `a` is left half-eliminated), 3 arguments rejected (n < 1, n > lda,
// m != n; nothing else written). ipvt[k] receives the row the pivot of step
// k came from; det the determinant (0.0 when singular; it may underflow to a
// zero without the matrix being singular).
void matinv(int* status, int n, int m, double* a, int lda, int* ipvt, double* det);
