#include "fit/factor_analysis.h"

#include "fit/method_table.h"

#include <string>

#include <Eigen/Cholesky>

#include "fit/statistics.h"

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

constexpr ScoreMethod kScores[] = {
    {"regression", "regression (Thurstone)", regression_weights},
    {"bartlett", "Bartlett", bartlett_weights},
};

}  // namespace

const ScoreMethod* find_scores(std::string_view name)
{
    return find_named(std::span<const ScoreMethod>(kScores), name);
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
    result.rotation = settings.rotation->rotate(result.extraction.loadings, settings.rotation_settings);
    orient_factors(result.rotation, signs);
    const Rotation& r = result.rotation;
    result.structure = r.pattern * r.phi;
    result.communalities = r.pattern.cwiseProduct(result.structure).rowwise().sum();
    result.uniquenesses = result.extraction.uniquenesses;
    result.variance = (r.phi * r.pattern.transpose() * r.pattern).diagonal();
    for (int i = 0; i < p; ++i)
        if (result.uniquenesses[i] <= kLeastUniqueness * matrix(i, i) * (1 + 1e-9))
            result.heywood.push_back(i);
    result.weights = settings.scores->weights(matrix, result);
    return result;
}
