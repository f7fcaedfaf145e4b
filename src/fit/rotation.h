// The rotations of scorix-fit: each one function from unrotated loadings A to
// a pattern, the factor correlations and the map to the structure, listed in
// one table that the command line names. Quartimax, oblimin and geomin are criteria
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
    double promax_power = 4;     // the exponent promax raises the varimax loadings to
    double geomin_delta = 0.01;  // what geomin adds to each squared loading
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
using CriterionFunction = Criterion (*)(const Eigen::MatrixXd& loadings, const RotationSettings& settings);

// Puts the factors in the order of the variance they explain (diag(Phi L'L))
// and signs each so that its pattern column sums to a positive value, or,
// given `signs` (columns already signed, as the components of the
// coefficient file are), so that it points the way of the column of its
// place: one sign rule for every output of a run.
void orient_factors(Rotation& rotation, const Eigen::MatrixXd* signs = nullptr);
