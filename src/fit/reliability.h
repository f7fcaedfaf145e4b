// The reliability of scales, each the sum of some of the variables (a
// reversed item counted with its sign turned): Cronbach's alpha, Guttman's
// lambda 6 and McDonald's omega, hierarchical and total, from a
// Schmid-Leiman transformation of oblique factors fitted to the scale's
// items, as psych's alpha and omega report them.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <Eigen/Core>

#include "fit/rotation.h"

// A scale as the command line words it: its name and its items, each a
// variable's name or number from 1, "-" in front of a reversed one.
struct ScaleWords {
    std::string name;
    std::vector<std::string> items;
};

struct ScaleItem {
    int variable;   // from 0
    bool reversed;  // counted with its sign turned
};

struct Scale {
    std::string name;
    std::vector<ScaleItem> items;
};

// "NAME: ITEM ITEM ..." (the items separated by commas or white space).
// Throws FitError for a line without a name, or with fewer than two items.
ScaleWords scale_words(const std::string& text);

// The scales of a run's variables: an item is the variable of that name
// (`names`, from the header) or else of that number, from 1. Throws
// FitError naming the scale and the item that is none of them, an item
// named twice in a scale, and a scale name given twice.
std::vector<Scale> resolve_scales(const std::vector<ScaleWords>& scales, const std::vector<std::string>& names,
                                  int variables);

struct ScaleReliability {
    double alpha;      // from the covariances (psych's raw_alpha)
    double std_alpha;  // from the correlations (std.alpha)
    double lambda6;    // Guttman's, from the squared multiple correlations within the scale (G6(smc))
    // The group factors fitted for omega: the most of 3 that the items
    // identify (minres's degrees of freedom at least 0); 0 for two items,
    // which identify none, and then no omega.
    int omega_factors = 0;
    double omega_hierarchical = std::numeric_limits<double>::quiet_NaN();
    double omega_total = std::numeric_limits<double>::quiet_NaN();
    bool converged = true;  // the factors' minres search and oblimin rotation
};

// The reliability of `scale`. Alpha, std alpha and lambda 6 describe the sum
// of the raw items: they come from `covariance`, the variables' covariances
// (psych's alpha). Omega describes the factors the run fits: it comes from
// `factored`, the covariances or correlations the run factors (polychoric
// ones under --cor=polychoric, as psych's omega(poly = TRUE) takes them);
// pass the same matrix twice when they are one. Omega is psych's omega(R,
// nfactors, fm = "minres", rotate = "oblimin", key) of the scale's
// correlations: minres factors, their oblimin rotation (quartimin, not
// normalized, from `rotation`'s starts and seed), the general factor of the
// factor correlations (minres's one factor of them; for two group factors
// both loadings sqrt(|phi|), psych's "equal"), omega hierarchical the square
// of the sum of the items' general loadings, omega total the communalities'
// share, both of the variance of the scale's sum. Throws FitError when the
// scale's correlations are not positive definite.
ScaleReliability reliability(const Eigen::MatrixXd& covariance, const Eigen::MatrixXd& factored, const Scale& scale,
                             const RotationSettings& rotation, std::uint64_t seed);
