#include "fit/linear_algebra.h"

#include <Eigen/Eigenvalues>

using Eigen::MatrixXd;
using Eigen::VectorXd;

MatrixXd scaled(Eigen::Ref<const MatrixXd> m, Eigen::Ref<const VectorXd> scale)
{
    return scale.asDiagonal() * m * scale.asDiagonal();
}

MatrixXd unit_diagonal(Eigen::Ref<const MatrixXd> m)
{
    const VectorXd scale = m.diagonal().cwiseSqrt().cwiseInverse();
    return scaled(m, scale);
}

MatrixXd correlation(Eigen::Ref<const MatrixXd> comoments)
{
    MatrixXd r = unit_diagonal(comoments);
    r.diagonal().setOnes();
    return r;
}

Decomposition decreasing_eigen(Eigen::Ref<const MatrixXd> m)
{
    const Eigen::SelfAdjointEigenSolver<MatrixXd> solver(m);
    if (solver.info() != Eigen::Success)
        throw FitError("the eigenvalues did not converge");
    return {solver.eigenvalues().reverse(), solver.eigenvectors().rowwise().reverse()};
}

VectorXd decreasing_eigenvalues(Eigen::Ref<const MatrixXd> m)
{
    const Eigen::SelfAdjointEigenSolver<MatrixXd> solver(m, Eigen::EigenvaluesOnly);
    if (solver.info() != Eigen::Success)
        throw FitError("the eigenvalues did not converge");
    return solver.eigenvalues().reverse();
}

Eigen::LLT<MatrixXd> cholesky(Eigen::Ref<const MatrixXd> m, const char* refusal)
{
    Eigen::LLT<MatrixXd> factor(m);
    if (factor.info() != Eigen::Success)
        throw FitError(refusal);
    return factor;
}
