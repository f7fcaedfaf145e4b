#include "fit/statistics.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <string>
#include <tuple>

#include <Eigen/Eigenvalues>
#include <Eigen/SVD>

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

namespace {

// Flips column s of `columns` (and of `also`) so that its entry of largest
// magnitude is positive; the lowest row wins a tie.
void orient_by_largest(MatrixXd& columns, MatrixXd& also, Eigen::Index s)
{
    Eigen::Index largest = 0;
    for (Eigen::Index k = 1; k < columns.rows(); ++k)
        if (std::abs(columns(k, s)) > std::abs(columns(largest, s)))
            largest = k;
    if (columns(largest, s) < 0) {
        columns.col(s) = -columns.col(s);
        also.col(s) = -also.col(s);
    }
}

}  // namespace

MatrixXd varimax(const MatrixXd& loadings, int& iterations, bool& converged)
{
    const Eigen::Index k = loadings.cols();
    VectorXd length = loadings.rowwise().norm();
    for (Eigen::Index i = 0; i < length.size(); ++i)
        length[i] = length[i] > 0 ? length[i] : 1.0;
    const MatrixXd normalized = length.cwiseInverse().asDiagonal() * loadings;
    const double n = static_cast<double>(loadings.rows());
    MatrixXd rotation = MatrixXd::Identity(k, k);
    // One factor has no other to turn against: it is its own rotation, and
    // the step below would polar-decompose a gradient of zeros.
    iterations = 0;
    converged = true;
    if (k < 2)
        return rotation;
    converged = false;
    // Each step moves to the polar factor of the criterion's gradient. The
    // criterion is flat at its maximum: a stop on its change of 1e-10 left
    // the iris loadings 4e-5 from the fixed point after 72 steps, while the
    // rotation itself settles to rounding level (210 steps, 7e-15 away).
    for (iterations = 1; iterations <= kVarimaxIterations; ++iterations) {
        const MatrixXd z = normalized * rotation;
        const VectorXd column_squares = z.array().square().colwise().sum().transpose();
        const MatrixXd target = z.array().cube().matrix() - z * (column_squares / n).asDiagonal();
        // BDCSVD hands fewer than 16 columns to JacobiSVD (the same bits as
        // ever) and divides and conquers beyond, where Jacobi sweeps over
        // hundreds of factors would take seconds a step.
        Eigen::BDCSVD<MatrixXd> svd(normalized.transpose() * target, Eigen::ComputeFullU | Eigen::ComputeFullV);
        const MatrixXd next = svd.matrixU() * svd.matrixV().transpose();
        const double change = (next - rotation).cwiseAbs().maxCoeff();
        rotation = next;
        if (change <= kVarimaxChange) {
            converged = true;
            break;
        }
    }
    iterations = std::min(iterations, kVarimaxIterations);
    return rotation;
}

int kaiser_factors(const VectorXd& correlation_eigenvalues)
{
    return std::max(1, static_cast<int>((correlation_eigenvalues.array() >= 1.0).count()));
}

MatrixXd correlation(const MatrixXd& comoments)
{
    const VectorXd scale = comoments.diagonal().cwiseSqrt().cwiseInverse();
    MatrixXd r = scale.asDiagonal() * comoments * scale.asDiagonal();
    r.diagonal().setOnes();
    return r;
}

namespace {

// The score coefficients of the first k = rotation.rows() components turned
// by `rotation`, V_k Lambda_k^-1/2 T: for the identity the components' own
// coefficients (unit-variance, uncorrelated scores), for a rotation the
// regression-method coefficients R^-1 L T of the rotated loadings L T.
MatrixXd score_coefficients(const VectorXd& eigenvalues, const MatrixXd& eigenvectors, const MatrixXd& rotation)
{
    const Eigen::Index k = rotation.rows();
    return eigenvectors.leftCols(k) * eigenvalues.head(k).cwiseSqrt().cwiseInverse().asDiagonal() * rotation;
}

}  // namespace

namespace {

std::string rank_message(const Fit& result, const char* matrix)
{
    const Eigen::Index n = result.eigenvalues.size();
    std::string names;
    const auto last = result.eigenvectors.col(n - 1);
    for (Eigen::Index k = 0; k < n; ++k)
        if (std::abs(last[k]) >= 0.05)
            names += (names.empty() ? "" : ", ") + std::to_string(k + 1);
    char text[200];
    std::snprintf(text, sizeof text, " (smallest eigenvalue %.3g, largest %.3g)", result.eigenvalues[n - 1],
                  result.eigenvalues[0]);
    return std::string("the ") + matrix + " matrix has lower rank than " + std::to_string(n) + ": variables " + names +
           " are collinear" + text;
}

// Rotates the first `k` components and puts the rotated factors in front,
// by decreasing variance explained, each signed so that its loadings sum to
// a positive number. Their regression-method coefficients R^-1 L T reduce to
// the unrotated coefficients times the rotation, which needs no inverse of
// R: an explicit one spread cond(R) x eps into every direction.
void rotate(Fit& result, int k)
{
    const MatrixXd loadings = result.eigenvectors.leftCols(k) * result.eigenvalues.head(k).cwiseSqrt().asDiagonal();
    const MatrixXd rotation = varimax(loadings, result.iterations, result.converged);
    const MatrixXd rotated = loadings * rotation;
    const MatrixXd coefficients = score_coefficients(result.eigenvalues, result.eigenvectors, rotation);
    const VectorXd variance = rotated.array().square().colwise().sum().transpose();
    std::vector<int> order(k);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return variance[a] > variance[b]; });
    for (int s = 0; s < k; ++s) {
        const double sign = rotated.col(order[s]).sum() < 0 ? -1.0 : 1.0;
        result.coefficients.col(s) = sign * coefficients.col(order[s]);
    }
    result.rotated = k;
}

// Refuses variables whose squared deviations leave the range of normal
// doubles (values about 1e154 or more apart, or 1e-154 or less), and, for
// the covariance matrix, variances so far apart that its rank test must
// fail: its smallest eigenvalue is at most the smallest variance, its
// largest at least the largest.
void check_scale(const VectorXd& squares, const VectorXd& mean, bool covariance)
{
    const Eigen::Index n = squares.size();
    for (Eigen::Index k = 0; k < n; ++k) {
        const std::string variable = "variable " + std::to_string(k + 1) + ": its deviations from the mean are too ";
        if (!std::isfinite(squares[k]) || !std::isfinite(mean[k]))
            throw FitError(variable + "large to square in double precision (about 1e154 or more); scale it down");
        if (!(squares[k] >= std::numeric_limits<double>::min()))
            throw FitError(variable + "small to square in double precision (about 1e-154 or less); scale it up");
    }
    Eigen::Index low = 0, high = 0;
    squares.minCoeff(&low);
    squares.maxCoeff(&high);
    if (covariance && !(squares[low] > static_cast<double>(n) * 0x1p-52 * squares[high])) {
        char text[240];
        std::snprintf(text, sizeof text,
                      "the variances of variables %d and %d are %.3g times apart, more than the covariance matrix "
                      "can resolve in double precision (2^52/%d); fit the correlation matrix (leave out --covariance)",
                      static_cast<int>(low + 1), static_cast<int>(high + 1), squares[high] / squares[low],
                      static_cast<int>(n));
        throw FitError(text);
    }
}

}  // namespace

Fit fit(const Moments& moments, const FitOptions& options)
{
    const char* matrix = options.covariance ? "covariance" : "correlation";
    const long long rows = moments.rows();
    const Eigen::Index n = moments.mean().size();
    if (rows < 2)
        throw FitError("a fit needs at least 2 data rows, found " + std::to_string(rows));
    // The matrix of n rows has rank at most n - 1: said before the
    // decomposition, which takes minutes for thousands of variables.
    if (rows <= n)
        throw FitError(std::to_string(rows) + " rows of " + std::to_string(n) + " variables: the " + matrix +
                       " matrix of " + std::to_string(rows) + " rows has rank at most " + std::to_string(rows - 1) +
                       "; a fit needs more rows than variables");
    if (int k = moments.constant_variable(); k >= 0)
        throw FitError("variable " + std::to_string(k + 1) + " is constant (its standard deviation is 0)");
    const MatrixXd comoments = moments.comoments();
    check_scale(comoments.diagonal(), moments.mean(), options.covariance);
    Fit result;
    result.mean = moments.mean();
    const double divisor = static_cast<double>(moments.rows() - 1);
    if (options.covariance) {
        result.std = VectorXd::Ones(n);
        result.analysed = comoments / divisor;
    } else {
        result.std = (comoments.diagonal() / divisor).cwiseSqrt();
        result.analysed = correlation(comoments);
    }
    Eigen::SelfAdjointEigenSolver<MatrixXd> solver(result.analysed);
    if (solver.info() != Eigen::Success)
        throw FitError("the eigenvalues did not converge");
    result.eigenvalues = solver.eigenvalues().reverse();
    result.eigenvectors = solver.eigenvectors().rowwise().reverse();
    if (!(result.eigenvalues[n - 1] > static_cast<double>(n) * 0x1p-52 * result.eigenvalues[0]))
        throw FitError(rank_message(result, matrix));
    result.correlation_eigenvalues =
        options.covariance
            ? VectorXd(Eigen::SelfAdjointEigenSolver<MatrixXd>(correlation(comoments), Eigen::EigenvaluesOnly)
                           .eigenvalues()
                           .reverse())
            : result.eigenvalues;
    result.coefficients = result.eigenvectors * result.eigenvalues.cwiseSqrt().cwiseInverse().asDiagonal();
    for (Eigen::Index s = 0; s < n; ++s)
        orient_by_largest(result.coefficients, result.eigenvectors, s);
    if (options.varimax) {
        int k = options.factors;
        if (k == 0)
            k = kaiser_factors(result.correlation_eigenvalues);
        if (k > n)
            throw FitError(std::to_string(k) + " factors asked for, but there are only " + std::to_string(n) +
                           " variables");
        rotate(result, k);
    }
    // The correlation of each variable with each score: the covariances A F
    // of the standardized variables with the unit-variance scores.
    result.loadings =
        result.analysed.diagonal().cwiseSqrt().cwiseInverse().asDiagonal() * (result.analysed * result.coefficients);
    return result;
}
