// The orthogonal matrix nearest to a square matrix, which varimax and the
// gradient projection step to. It has a file of its own because the singular
// value decomposition behind it is the slowest template in the program to
// compile; kept apart, the sources that use it rebuild quickly.
#pragma once

#include <Eigen/Core>

// U V^T of the singular value decomposition m = U S V^T. Below 16 columns the
// decomposition is Jacobi's one-sided rotations; beyond, it divides and
// conquers, where Jacobi sweeps over hundreds of factors would take seconds.
Eigen::MatrixXd polar_factor(Eigen::Ref<const Eigen::MatrixXd> m);
