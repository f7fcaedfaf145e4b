// The few pieces of linear algebra that scorix-fit's modules share, written
// once: a symmetric matrix scaled on both sides (to a unit diagonal, say),
// its eigenpairs largest first, and a Cholesky factor that refuses a matrix
// that is not positive definite. Each keeps the operations (and so the bits)
// that its callers had.
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

// The Cholesky factor of m; throws FitError(refusal) when m is not positive
// definite.
Eigen::LLT<Eigen::MatrixXd> cholesky(Eigen::Ref<const Eigen::MatrixXd> m, const char* refusal);
