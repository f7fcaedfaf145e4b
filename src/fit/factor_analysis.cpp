#include "fit/factor_analysis.h"

#include "fit/method_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include <Eigen/Cholesky>
#include <Eigen/LU>

#include "fit/linear_algebra.h"

using Eigen::MatrixXd;
using Eigen::VectorXd;

namespace {

// Thurstone's regression weights R^-1 S, S the structure, by a Cholesky solve.
MatrixXd regression_weights(const MatrixXd& matrix, const FactorSolution& solution)
{
    return matrix.llt().solve(solution.structure);
}

// Bartlett's weights U^-1 L (L' U^-1 L)^-1, L the pattern and U the
// uniquenesses: unbiased scores of the common factors.
MatrixXd bartlett_weights(const MatrixXd&, const FactorSolution& solution)
{
    for (Eigen::Index i = 0; i < solution.uniquenesses.size(); ++i)
        if (!(solution.uniquenesses[i] > 0))
            throw FitError("Bartlett scores need positive uniquenesses, but variable " + std::to_string(i + 1) +
                           " has " + std::to_string(solution.uniquenesses[i]));
    const MatrixXd scaled = solution.uniquenesses.cwiseInverse().asDiagonal() * solution.rotation.pattern;
    const MatrixXd gram = solution.rotation.pattern.transpose() * scaled;
    return gram.ldlt().solve(scaled.transpose()).transpose();
}

// ten Berge, Krijnen, Wansbeek and Shapiro (1999): the weights whose scores
// correlate as the factors do (W'RW = Phi) and correlate most with them,
// R^-1 L Phi^1/2 (Phi^1/2 L' R^-1 L Phi^1/2)^-1/2 Phi^1/2, L the pattern.
// Their R^-1/2 C form reduces to this, which needs no root of R.
MatrixXd ten_berge_weights(const MatrixXd& matrix, const FactorSolution& solution)
{
    const MatrixXd phi_root = square_root(solution.rotation.phi);
    const MatrixXd scaled = solution.rotation.pattern * phi_root;
    const MatrixXd solved = matrix.llt().solve(scaled);
    return solved * inverse_square_root(scaled.transpose() * solved) * phi_root;
}

constexpr ScoreMethod kScores[] = {
    {"regression", "regression (Thurstone)", true, regression_weights},
    {"bartlett", "Bartlett", false, bartlett_weights},
    {"tenberge", "ten Berge", false, ten_berge_weights},
};

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

// A matrix of `rows` rows of n variables has rank at most rows - 1: said
// before the decomposition, which takes minutes for thousands of variables.
void check_rows(long long rows, Eigen::Index n, const char* matrix)
{
    if (rows < 2)
        throw FitError("a fit needs at least 2 data rows, found " + std::to_string(rows));
    if (rows <= n)
        throw FitError(std::to_string(rows) + " rows of " + std::to_string(n) + " variables: the " + matrix +
                       " matrix of " + std::to_string(rows) + " rows has rank at most " + std::to_string(rows - 1) +
                       "; a fit needs more rows than variables");
}

// The components of result.analysed, whatever it came from; `source` is
// the matrix whose correlation matrix the factor counts compare
// (co-moments, or a covariance matrix given as input).
void decompose(Fit& result, const MatrixXd& source, bool covariance)
{
    const Eigen::Index n = result.analysed.rows();
    Decomposition eigen = decreasing_eigen(result.analysed);
    result.eigenvalues = std::move(eigen.values);
    result.eigenvectors = std::move(eigen.vectors);
    if (!(result.eigenvalues[n - 1] > static_cast<double>(n) * 0x1p-52 * result.eigenvalues[0]))
        throw FitError(rank_message(result, covariance ? "covariance" : "correlation"));
    result.correlation_eigenvalues =
        covariance ? decreasing_eigenvalues(correlation(source)) : VectorXd(result.eigenvalues);
    result.coefficients = result.eigenvectors * result.eigenvalues.cwiseSqrt().cwiseInverse().asDiagonal();
    for (Eigen::Index s = 0; s < n; ++s)
        orient_by_largest(result.coefficients, result.eigenvectors, s);
    // The correlation of each variable with each score: the covariances A F
    // of the standardized variables with the unit-variance scores.
    result.loadings =
        result.analysed.diagonal().cwiseSqrt().cwiseInverse().asDiagonal() * (result.analysed * result.coefficients);
}

}  // namespace

const ScoreMethod* find_scores(std::string_view name)
{
    return find_named(std::span<const ScoreMethod>(kScores), name);
}

std::span<const ScoreMethod> score_methods()
{
    return kScores;
}

Eigen::VectorXd score_validity(const MatrixXd& matrix, const FactorSolution& solution, const MatrixXd& weights)
{
    const VectorXd covariance = solution.structure.cwiseProduct(weights).colwise().sum().transpose();
    const VectorXd variance = weights.cwiseProduct(matrix * weights).colwise().sum().transpose();
    return covariance.cwiseQuotient(variance.cwiseSqrt());
}

Fit analyse(const Moments& moments, bool covariance, const Eigen::MatrixXd* given)
{
    const char* matrix = covariance ? "covariance" : "correlation";
    const Eigen::Index n = moments.mean().size();
    check_rows(moments.rows(), n, matrix);
    if (int k = moments.constant_variable(); k >= 0)
        throw FitError("variable " + std::to_string(k + 1) + " is constant (its standard deviation is 0)");
    const MatrixXd comoments = moments.comoments();
    check_scale(comoments.diagonal(), moments.mean(), covariance);
    Fit result;
    result.mean = moments.mean();
    const double divisor = static_cast<double>(moments.rows() - 1);
    if (covariance) {
        result.std = VectorXd::Ones(n);
        result.analysed = comoments / divisor;
    } else {
        result.std = (comoments.diagonal() / divisor).cwiseSqrt();
        result.analysed = given ? *given : correlation(comoments);
    }
    decompose(result, comoments, covariance);
    return result;
}

Fit analyse_matrix(const MatrixXd& matrix, long long rows, bool covariance, VectorXd mean, VectorXd std)
{
    check_rows(rows, matrix.rows(), covariance ? "covariance" : "correlation");
    check_scale(matrix.diagonal(), mean, covariance);
    Fit result;
    result.mean = std::move(mean);
    result.std = covariance ? VectorXd::Ones(matrix.rows()) : std;
    result.analysed = covariance ? matrix : correlation(matrix);
    decompose(result, matrix, covariance);
    return result;
}

void turn_components(Fit& fit, const FactorSettings& settings)
{
    if (!settings.rotation->rotates)
        return;
    const int k = settings.factors;
    const MatrixXd loadings = fit.eigenvectors.leftCols(k) * fit.eigenvalues.head(k).cwiseSqrt().asDiagonal();
    const Rotation turned = rotate(*settings.rotation, loadings, settings.rotation_settings);
    // Their regression coefficients R^-1 L T reduce to the unrotated
    // coefficients times the rotation, which needs no inverse of R: an
    // explicit one spread cond(R) x eps into every direction.
    const MatrixXd coefficients = fit.eigenvectors.leftCols(k) *
                                  fit.eigenvalues.head(k).cwiseSqrt().cwiseInverse().asDiagonal() * turned.structure;
    const MatrixXd rotated = loadings * turned.structure;
    const VectorXd variance = rotated.array().square().colwise().sum().transpose();
    std::vector<int> order(k);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return variance[a] > variance[b]; });
    for (int s = 0; s < k; ++s) {
        const double sign = rotated.col(order[s]).sum() < 0 ? -1.0 : 1.0;
        fit.coefficients.col(s) = sign * coefficients.col(order[s]);
    }
    fit.rotated = k;
    fit.iterations = turned.iterations;
    fit.converged = turned.converged;
    fit.loadings = fit.analysed.diagonal().cwiseSqrt().cwiseInverse().asDiagonal() * (fit.analysed * fit.coefficients);
}

FactorSolution factor_solution(const MatrixXd& matrix, const FactorSettings& settings, const MatrixXd* signs)
{
    const int p = static_cast<int>(matrix.rows());
    const int most = settings.method->most_factors(p);
    if (settings.factors > most)
        throw FitError(std::to_string(settings.factors) + " factors asked for, but " + settings.method->description +
                       " fits at most " + std::to_string(most) + " to " + std::to_string(p) + " variables");
    FactorSolution result;
    result.extraction = settings.method->extract(matrix, settings.factors, settings.seed);
    result.rotation = rotate(*settings.rotation, result.extraction.loadings, settings.rotation_settings);
    orient_factors(result.rotation, signs);
    const Rotation& r = result.rotation;
    result.structure = r.pattern * r.phi;
    result.communalities = r.pattern.cwiseProduct(result.structure).rowwise().sum();
    result.uniquenesses = result.extraction.uniquenesses;
    result.variance = (r.phi * r.pattern.transpose() * r.pattern).diagonal();
    const Eigen::VectorXd& held = heywood_uniquenesses(result);
    for (int i = 0; i < p; ++i)
        if (held[i] <= kLeastUniqueness * matrix(i, i) * (1 + 1e-9))
            result.heywood.push_back(i);
    result.weights = settings.scores->weights(matrix, result);
    return result;
}

const Eigen::VectorXd& heywood_uniquenesses(const FactorSolution& solution)
{
    const Extraction& e = solution.extraction;
    return e.fitted.size() ? e.fitted : e.uniquenesses;
}

void use_weights(Fit& fit, const FactorSolution& solution)
{
    const MatrixXd& w = solution.weights;
    fit.coefficients.leftCols(w.cols()) = w;
    const Eigen::FullPivLU<MatrixXd> lu(fit.coefficients);
    if (!lu.isInvertible())
        throw FitError("the factor score coefficients and the remaining components make a singular matrix");
    const MatrixXd covariances = fit.analysed * fit.coefficients;
    const VectorXd score_spread =
        fit.coefficients.cwiseProduct(covariances).colwise().sum().cwiseSqrt().cwiseInverse().transpose();
    fit.loadings =
        fit.analysed.diagonal().cwiseSqrt().cwiseInverse().asDiagonal() * covariances * score_spread.asDiagonal();
}
