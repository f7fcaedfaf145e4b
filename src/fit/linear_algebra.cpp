#include "fit/linear_algebra.h"

#include <algorithm>
#include <vector>

#include <Eigen/Eigenvalues>
#include <Eigen/QR>

// LAPACK's MRRR solver: selected eigenpairs of a symmetric tridiagonal matrix.
extern "C" void dstemr_(const char* jobz, const char* range, const int* n, double* d, double* e, const double* vl,
                        const double* vu, const int* il, const int* iu, int* m, double* w, double* z, const int* ldz,
                        const int* nzc, int* isuppz, int* tryrac, double* work, const int* lwork, int* iwork,
                        const int* liwork, int* info);

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

Decomposition increasing_eigen(Eigen::Ref<const MatrixXd> m)
{
    const Eigen::SelfAdjointEigenSolver<MatrixXd> solver(m);
    return {solver.eigenvalues(), solver.eigenvectors()};
}

// The `count` largest eigenvalues, decreasing, with their eigenvectors:
// Householder tridiagonalization (Eigen), those eigenpairs of the
// tridiagonal matrix by multiple relatively robust representations
// (LAPACK's dstemr, O(n count)), and the vectors mapped back. Principal axis
// factoring decomposes its matrix at every step and wants only the leading
// pairs: for 500 variables this is five times faster than the full
// decomposition with 10 of them, and still twice with 250.
Decomposition leading_eigen(Eigen::Ref<const MatrixXd> matrix, int count)
{
    const int n = static_cast<int>(matrix.rows());
    const Eigen::Tridiagonalization<MatrixXd> tridiagonal(matrix);
    VectorXd d = tridiagonal.diagonal(), e = VectorXd::Zero(n), w(n);
    e.head(n - 1) = tridiagonal.subDiagonal();
    MatrixXd z(n, count);
    std::vector<int> support(2 * static_cast<std::size_t>(count));
    const int first = n - count + 1, ldz = n;
    const double unused = 0;
    int found = 0, relative = 1, info = 0, lwork = -1, liwork = -1, iwork_size = 0;
    double work_size = 0;
    dstemr_("V", "I", &n, d.data(), e.data(), &unused, &unused, &first, &n, &found, w.data(), z.data(), &ldz, &count,
            support.data(), &relative, &work_size, &lwork, &iwork_size, &liwork, &info);
    lwork = static_cast<int>(work_size);
    liwork = iwork_size;
    std::vector<double> work(static_cast<std::size_t>(std::max(lwork, 1)));
    std::vector<int> iwork(static_cast<std::size_t>(std::max(liwork, 1)));
    if (info == 0)
        dstemr_("V", "I", &n, d.data(), e.data(), &unused, &unused, &first, &n, &found, w.data(), z.data(), &ldz,
                &count, support.data(), &relative, work.data(), &lwork, iwork.data(), &liwork, &info);
    if (info != 0 || found != count)
        throw FitError("the eigenvalues did not converge");
    return {w.head(count).reverse(), tridiagonal.matrixQ() * z.rowwise().reverse()};
}

MatrixXd square_root(Eigen::Ref<const MatrixXd> m)
{
    return Eigen::SelfAdjointEigenSolver<MatrixXd>(m).operatorSqrt();
}

MatrixXd inverse_square_root(Eigen::Ref<const MatrixXd> m)
{
    return Eigen::SelfAdjointEigenSolver<MatrixXd>(m).operatorInverseSqrt();
}

MatrixXd least_squares(Eigen::Ref<const MatrixXd> a, Eigen::Ref<const MatrixXd> b)
{
    return a.householderQr().solve(b);
}

QrFactors qr_factors(Eigen::Ref<const MatrixXd> a)
{
    const Eigen::HouseholderQR<MatrixXd> qr(a);
    return {qr.householderQ(), qr.matrixQR().diagonal()};
}

MatrixXd orthonormal_columns(Eigen::Ref<const MatrixXd> a)
{
    return Eigen::HouseholderQR<MatrixXd>(a).householderQ() * MatrixXd::Identity(a.rows(), a.cols());
}

Eigen::LLT<MatrixXd> cholesky(Eigen::Ref<const MatrixXd> m, const char* refusal)
{
    Eigen::LLT<MatrixXd> factor(m);
    if (factor.info() != Eigen::Success)
        throw FitError(refusal);
    return factor;
}
