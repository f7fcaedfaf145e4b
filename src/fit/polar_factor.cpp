#include "fit/polar_factor.h"

#include <Eigen/SVD>

Eigen::MatrixXd polar_factor(Eigen::Ref<const Eigen::MatrixXd> m)
{
    const Eigen::BDCSVD<Eigen::MatrixXd> svd(m, Eigen::ComputeThinU | Eigen::ComputeThinV);
    return svd.matrixU() * svd.matrixV().transpose();
}
