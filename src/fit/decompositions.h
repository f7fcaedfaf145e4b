// The Eigen decompositions of dense double matrices that scorix-fit uses,
// compiled once in decompositions.cpp: a source that includes this header
// calls them there instead of building its own copy of each. They are the
// biggest templates of the fit (the divide-and-conquer SVD alone took half
// of rotation.cpp's compile time and memory). A decomposition of a matrix
// expression, not a MatrixXd, still builds its own copy of compute().
#pragma once

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/LU>
#include <Eigen/QR>
#include <Eigen/SVD>

namespace Eigen {
extern template class BDCSVD<MatrixXd>;
extern template class JacobiSVD<MatrixXd>;
extern template class LLT<MatrixXd>;
extern template LLT<MatrixXd>& LLT<MatrixXd>::compute(const EigenBase<MatrixXd>&);
extern template class LDLT<MatrixXd>;
extern template LDLT<MatrixXd>& LDLT<MatrixXd>::compute(const EigenBase<MatrixXd>&);
extern template class PartialPivLU<MatrixXd>;
extern template class FullPivLU<MatrixXd>;
extern template class HouseholderQR<MatrixXd>;
extern template class SelfAdjointEigenSolver<MatrixXd>;
extern template SelfAdjointEigenSolver<MatrixXd>& SelfAdjointEigenSolver<MatrixXd>::compute(const EigenBase<MatrixXd>&,
                                                                                            int);
extern template class Tridiagonalization<MatrixXd>;
}  // namespace Eigen
