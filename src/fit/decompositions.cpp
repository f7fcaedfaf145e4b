#include "fit/decompositions.h"

namespace Eigen {
template class BDCSVD<MatrixXd>;
template class JacobiSVD<MatrixXd>;
template class LLT<MatrixXd>;
template LLT<MatrixXd>& LLT<MatrixXd>::compute(const EigenBase<MatrixXd>&);
template class LDLT<MatrixXd>;
template LDLT<MatrixXd>& LDLT<MatrixXd>::compute(const EigenBase<MatrixXd>&);
template class PartialPivLU<MatrixXd>;
template class FullPivLU<MatrixXd>;
template class HouseholderQR<MatrixXd>;
template class SelfAdjointEigenSolver<MatrixXd>;
template SelfAdjointEigenSolver<MatrixXd>& SelfAdjointEigenSolver<MatrixXd>::compute(const EigenBase<MatrixXd>&, int);
template class Tridiagonalization<MatrixXd>;
}  // namespace Eigen
