#include "fit/moments.h"

#include <cstddef>
#include <limits>
#include <tuple>

using Eigen::MatrixXd;
using Eigen::VectorXd;

Moments::Moments(int variables)
    : origin_(VectorXd::Zero(variables)),
      mean_(VectorXd::Zero(variables)),
      comoments_(MatrixXd::Zero(variables, variables)),
      low_(VectorXd::Constant(variables, std::numeric_limits<double>::infinity())),
      high_(VectorXd::Constant(variables, -std::numeric_limits<double>::infinity()))
{
}

void Moments::add(const double* rows, int count)
{
    if (count <= 0)
        return;
    const Eigen::Index variables = mean_.size();
    Eigen::Map<const Block> block(rows, count, variables);
    const VectorXd origin = block.row(0).transpose();
    // Sums about the origin and ranges in one pass along the rows, which
    // the compiler vectorizes across the columns: three column-wise
    // reductions took twice as long.
    Eigen::RowVectorXd sum = Eigen::RowVectorXd::Zero(variables);
    VectorXd low = origin, high = origin;
    for (int r = 0; r < count; ++r) {
        const double* row = rows + static_cast<std::ptrdiff_t>(r) * variables;
        for (Eigen::Index c = 0; c < variables; ++c) {
            sum[c] += row[c] - origin[c];
            low[c] = row[c] < low[c] ? row[c] : low[c];
            high[c] = row[c] > high[c] ? row[c] : high[c];
        }
    }
    const Eigen::RowVectorXd block_mean = sum / static_cast<double>(count);
    // The co-moments of the block about its rounded mean as one matrix
    // product (lower triangle only; this is where the time of wide tables
    // goes), less the outer product of the residual sums over count, which
    // moves them to the exact mean of the block. The scratch storage stays
    // allocated from block to block: a fresh matrix per block made wide
    // fits twice as slow.
    centred_ = (block.rowwise() - origin.transpose()).rowwise() - block_mean;
    const VectorXd residual = centred_.colwise().sum().transpose();
    block_comoments_.setZero(variables, variables);
    block_comoments_.selfadjointView<Eigen::Lower>().rankUpdate(centred_.transpose());
    block_comoments_.selfadjointView<Eigen::Lower>().rankUpdate(residual, -1.0 / count);
    combine(count, origin, block_mean.transpose() + residual / count, block_comoments_, low, high);
}

void Moments::merge(const Moments& later)
{
    combine(later.rows_, later.origin_, later.mean_, later.comoments_, later.low_, later.high_);
}

void Moments::combine(long long rows, const VectorXd& origin, const VectorXd& mean, const MatrixXd& comoments,
                      const VectorXd& low, const VectorXd& high)
{
    if (rows == 0)
        return;
    if (rows_ == 0) {
        std::tie(rows_, origin_, mean_, comoments_, low_, high_) = std::tie(rows, origin, mean, comoments, low, high);
        return;
    }
    const double total = static_cast<double>(rows_) + static_cast<double>(rows);
    const VectorXd delta = (origin - origin_) + (mean - mean_);
    comoments_.triangularView<Eigen::Lower>() += comoments;
    comoments_.selfadjointView<Eigen::Lower>().rankUpdate(delta, static_cast<double>(rows_) *
                                                                     static_cast<double>(rows) / total);
    mean_ += delta * (static_cast<double>(rows) / total);
    low_ = low_.cwiseMin(low);
    high_ = high_.cwiseMax(high);
    rows_ += rows;
}

MatrixXd Moments::comoments() const
{
    return comoments_.selfadjointView<Eigen::Lower>();
}

int Moments::constant_variable() const
{
    for (Eigen::Index k = 0; k < mean_.size(); ++k)
        if (low_[k] == high_[k])
            return static_cast<int>(k);
    return -1;
}
