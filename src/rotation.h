// The rotations of scorix-fit: each one function from unrotated loadings A to
// a pattern, the factor correlations and the map to the structure, listed in
// one table that the command line names. Quartimax and oblimin are criteria
// with their gradients that plug into one gradient-projection routine,
// orthogonal or oblique; varimax and promax follow R's stats package.
#pragma once

#include <span>
#include <string_view>

#include <Eigen/Core>

struct Rotation {
    Eigen::MatrixXd pattern;    // variables x factors: the loadings
    Eigen::MatrixXd phi;        // factor correlations (identity when orthogonal)
    Eigen::MatrixXd structure;  // factors x factors: the structure is A * structure
    int iterations = 0;
    bool converged = true;  // false when the iteration stopped at its step cap
};

struct RotationSettings {
    double promax_power = 4;  // the exponent promax raises the varimax loadings to
};

struct RotationMethod {
    const char* name;         // as --rotate names it
    const char* description;  // for the report
    bool oblique;
    // A rotation that does not converge by its step cap is the last one
    // reached, with `converged` false.
    Rotation (*rotate)(const Eigen::MatrixXd& loadings, const RotationSettings& settings);
};

const RotationMethod* find_rotation(std::string_view name);

// A rotation criterion at loadings L: its value and its gradient dQ/dL.
struct Criterion {
    double value;
    Eigen::MatrixXd gradient;
};
using CriterionFunction = Criterion (*)(const Eigen::MatrixXd& loadings);

// Jennrich's gradient projection (2001, 2002) from the identity: minimizes
// the criterion over orthogonal rotations T (L = A T) or over oblique ones
// with unit columns (L = A T'^-1, Phi = T'T), until the projected gradient
// is below 1e-8 (times the criterion of A when that exceeds 1: covariance
// loadings can be in the thousands), as GPArotation's GPForth and GPFoblq do;
// after 10,000 steps it stops with the last rotation, not converged.
Rotation gradient_projection(const Eigen::MatrixXd& loadings, CriterionFunction criterion, bool oblique);

// Puts the factors in the order of the variance they explain (diag(Phi L'L))
// and signs each so that its pattern column sums to a positive value.
void orient_factors(Rotation& rotation);
