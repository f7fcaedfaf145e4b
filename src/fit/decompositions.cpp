#include "fit/decompositions.h"

namespace Eigen {
template class BDCSVD<MatrixXd>;
template class SelfAdjointEigenSolver<MatrixXd>;
template SelfAdjointEigenSolver<MatrixXd>& SelfAdjointEigenSolver<MatrixXd>::compute(const EigenBase<MatrixXd>&, int);
}  // namespace Eigen
