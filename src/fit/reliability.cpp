#include "fit/reliability.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "fit/factor_extraction.h"
#include "fit/fit_error.h"
#include "fit/linear_algebra.h"

using Eigen::MatrixXd;
using Eigen::VectorXd;

namespace {

// The variable an item word names, from 0, or -1: a name of the header
// first, else a whole number from 1.
int variable_of(const std::string& word, const std::vector<std::string>& names, int variables)
{
    if (const auto named = std::find(names.begin(), names.end(), word); named != names.end())
        return static_cast<int>(named - names.begin());
    if (word.empty() || word.find_first_not_of("0123456789") != std::string::npos || word.size() > 9)
        return -1;
    const int number = std::atoi(word.c_str());
    return number >= 1 && number <= variables ? number - 1 : -1;
}

// The loadings of the general factor behind oblique factors that correlate
// as `phi`: for two, both sqrt(|phi_12|) (signed as phi_12), which three
// factors would determine; for more, minres's one factor of phi.
VectorXd general_loadings(const MatrixXd& phi, std::uint64_t seed, bool& converged)
{
    if (phi.rows() == 2) {
        const double each = std::sqrt(std::abs(phi(0, 1)));
        return VectorXd{{each, phi(0, 1) < 0 ? -each : each}};
    }
    const Extraction general = find_extraction("minres")->extract(phi, 1, seed);
    converged = converged && general.converged;
    return general.loadings.col(0);
}

}  // namespace

ScaleWords scale_words(const std::string& text)
{
    const std::size_t colon = text.find(':');
    const auto trimmed = [](std::string s) {
        s.erase(0, s.find_first_not_of(" \t"));
        s.erase(s.find_last_not_of(" \t\r") + 1);
        return s;
    };
    ScaleWords scale{trimmed(text.substr(0, colon)), {}};
    if (colon == std::string::npos || scale.name.empty())
        throw FitError("scale '" + text + "': NAME:ITEMS expected, as A:-A1,A2,A3");
    const std::string items = text.substr(colon + 1);
    for (std::size_t at = 0; (at = items.find_first_not_of(" \t\r,", at)) != std::string::npos;) {
        const std::size_t end = std::min(items.find_first_of(" \t\r,", at), items.size());
        scale.items.push_back(items.substr(at, end - at));
        at = end;
    }
    if (scale.items.size() < 2)
        throw FitError("scale " + scale.name + ": a scale needs at least 2 items");
    return scale;
}

std::vector<Scale> resolve_scales(const std::vector<ScaleWords>& scales, const std::vector<std::string>& names,
                                  int variables)
{
    std::vector<Scale> resolved;
    std::set<std::string> taken;
    for (const ScaleWords& words : scales) {
        if (!taken.insert(words.name).second)
            throw FitError("scale " + words.name + " is given twice");
        Scale& scale = resolved.emplace_back(Scale{words.name, {}});
        std::set<int> used;
        for (const std::string& item : words.items) {
            // A header's name that starts with '-' is that variable; else '-'
            // marks a reversed item.
            int variable = variable_of(item, names, variables);
            const bool reversed = variable < 0 && item.size() > 1 && item[0] == '-';
            if (reversed)
                variable = variable_of(item.substr(1), names, variables);
            if (variable < 0)
                throw FitError("scale " + words.name + ": no variable '" + item + "' (" +
                               (names.empty() ? "" : "a name of the header or ") + "a number from 1 to " +
                               std::to_string(variables) + ")");
            if (!used.insert(variable).second)
                throw FitError("scale " + words.name + ": item '" + item + "' is named twice");
            scale.items.push_back({variable, reversed});
        }
    }
    return resolved;
}

ScaleReliability reliability(const MatrixXd& covariance, const MatrixXd& factored, const Scale& scale,
                             const RotationSettings& rotation, std::uint64_t seed)
{
    const auto n = static_cast<Eigen::Index>(scale.items.size());
    // The scale's part of a matrix, a reversed item's row and column with
    // their signs turned.
    const auto signed_items = [&](const MatrixXd& m) {
        MatrixXd c(n, n);
        for (Eigen::Index a = 0; a < n; ++a)
            for (Eigen::Index b = 0; b < n; ++b)
                c(a, b) = (scale.items[a].reversed == scale.items[b].reversed ? 1 : -1) *
                          m(scale.items[a].variable, scale.items[b].variable);
        return c;
    };
    const MatrixXd c = signed_items(covariance);
    const MatrixXd r = correlation(c);
    const double items = static_cast<double>(n), spread = items / (items - 1), total = r.sum();
    ScaleReliability result;
    result.alpha = (1 - c.trace() / c.sum()) * spread;
    result.std_alpha = (1 - items / total) * spread;
    // Each item's squared multiple correlation with the others, 1 - 1/(R^-1)_ii,
    // held to [0, 1] as psych's smc holds it.
    const auto factor = cholesky(r, ("the correlations of scale " + scale.name + " are not positive definite").c_str());
    const VectorXd smc = (1 - factor.solve(MatrixXd::Identity(n, n)).diagonal().array().inverse()).max(0).min(1);
    result.lambda6 = 1 - (items - smc.sum()) / total;

    result.omega_factors = std::min(3, find_extraction("minres")->most_factors(static_cast<int>(n)));
    if (result.omega_factors == 0)
        return result;
    const MatrixXd f = &factored == &covariance ? r : correlation(signed_items(factored));
    const double f_total = f.sum();
    const Extraction fitted = find_extraction("minres")->extract(f, result.omega_factors, seed);
    result.converged = fitted.converged;
    // The general factor's loadings: those of one factor, or the oblique
    // pattern times the general factor of the factor correlations.
    VectorXd general = fitted.loadings.col(0);
    if (result.omega_factors > 1) {
        RotationSettings quartimin;
        quartimin.starts = rotation.starts;
        quartimin.seed = rotation.seed;
        const Rotation oblique = rotate(*find_rotation("oblimin"), fitted.loadings, quartimin);
        result.converged = result.converged && oblique.converged;
        general = oblique.pattern * general_loadings(oblique.phi, seed, result.converged);
    }
    const double unique = (f.diagonal() - fitted.loadings.rowwise().squaredNorm()).sum();
    result.omega_hierarchical = general.sum() * general.sum() / f_total;
    result.omega_total = (f_total - unique) / f_total;
    return result;
}
