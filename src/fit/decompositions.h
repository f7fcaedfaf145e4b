// The two Eigen decompositions of scorix-fit that cost the most to compile,
// compiled once in decompositions.cpp: the symmetric eigen-decomposition of
// a MatrixXd (used by four sources and two tests) and the divide-and-conquer
// SVD of the rotations (about half of rotation.cpp's compile time and
// memory; in a source of its own it compiles beside the others). A source
// that includes this header calls the compiled ones. An eigen-decomposition
// of an expression, not of a MatrixXd, still compiles its own compute().
#pragma once

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/SVD>

namespace Eigen {
extern template class BDCSVD<MatrixXd>;
extern template class SelfAdjointEigenSolver<MatrixXd>;
extern template SelfAdjointEigenSolver<MatrixXd>& SelfAdjointEigenSolver<MatrixXd>::compute(const EigenBase<MatrixXd>&,
                                                                                            int);
}  // namespace Eigen
