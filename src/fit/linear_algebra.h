// The linear algebra of scorix-fit's modules beyond products and sums,
// written once: a symmetric matrix scaled on both sides (to a unit diagonal,
// say), its eigenpairs, its roots, Householder QR, and a Cholesky factor that
// refuses a matrix that is not positive definite. Each keeps the operations
// (and so the bits) that its callers had. The decompositions are compiled
// here only: their templates take seconds each to compile, and the sources
// that call these functions rebuild the faster for not instantiating them.
#pragma once

#include <Eigen/Cholesky>
#include <Eigen/Core>

#include "fit/fit_error.h"

// S m S with S = diag(scale).
Eigen::MatrixXd scaled(Eigen::Ref<const Eigen::MatrixXd> m, Eigen::Ref<const Eigen::VectorXd> scale);

// m scaled by the inverse roots of its diagonal: a covariance matrix becomes
// its correlation matrix, whose diagonal is 1 to rounding.
Eigen::MatrixXd unit_diagonal(Eigen::Ref<const Eigen::MatrixXd> m);

// The correlation matrix of co-moments (or of a covariance matrix), with an
// exact unit diagonal.
Eigen::MatrixXd correlation(Eigen::Ref<const Eigen::MatrixXd> comoments);

// Eigenvalues in decreasing order with their eigenvectors (column s belongs
// to value s). Throws FitError when the decomposition does not converge.
struct Decomposition {
    Eigen::VectorXd values;
    Eigen::MatrixXd vectors;
};
Decomposition decreasing_eigen(Eigen::Ref<const Eigen::MatrixXd> m);
// The eigenvalues alone, decreasing.
Eigen::VectorXd decreasing_eigenvalues(Eigen::Ref<const Eigen::MatrixXd> m);
// Increasing, as the symmetric solver leaves them, without a check of its
// convergence.
Decomposition increasing_eigen(Eigen::Ref<const Eigen::MatrixXd> m);
// The `count` largest eigenpairs alone, decreasing; throws FitError when the
// decomposition does not converge.
Decomposition leading_eigen(Eigen::Ref<const Eigen::MatrixXd> m, int count);

// V D^1/2 V^T and V D^-1/2 V^T of the eigenpairs V D V^T of a symmetric
// matrix: its square root and inverse square root.
Eigen::MatrixXd square_root(Eigen::Ref<const Eigen::MatrixXd> m);
Eigen::MatrixXd inverse_square_root(Eigen::Ref<const Eigen::MatrixXd> m);

// By Householder QR of a = Q R: the least-squares solution x of a x = b; Q
// whole with the diagonal of R; the first a.cols() columns of Q, an
// orthonormal basis of a's columns.
Eigen::MatrixXd least_squares(Eigen::Ref<const Eigen::MatrixXd> a, Eigen::Ref<const Eigen::MatrixXd> b);
struct QrFactors {
    Eigen::MatrixXd q;
    Eigen::VectorXd r_diagonal;
};
QrFactors qr_factors(Eigen::Ref<const Eigen::MatrixXd> a);
Eigen::MatrixXd orthonormal_columns(Eigen::Ref<const Eigen::MatrixXd> a);

// The Cholesky factor of m; throws FitError(refusal) when m is not positive
// definite.
Eigen::LLT<Eigen::MatrixXd> cholesky(Eigen::Ref<const Eigen::MatrixXd> m, const char* refusal);
