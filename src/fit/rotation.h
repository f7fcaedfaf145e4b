// The rotations of scorix-fit: each takes unrotated loadings A to a pattern,
// the factor correlations and the map to the structure, listed in one table
// that the command line names, with the traits the rest of the program reads.
// Quartimax, oblimin, geomin, equamax, Bentler's and the target's are
// criteria with their gradients (taking the settings) that plug into one
// gradient-projection routine, orthogonal or oblique, run from the identity
// and from seeded random starts; varimax and promax follow R's stats package.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include <Eigen/Core>

struct Rotation {
    Eigen::MatrixXd pattern;    // variables x factors: the loadings
    Eigen::MatrixXd phi;        // factor correlations (identity when orthogonal)
    Eigen::MatrixXd structure;  // factors x factors: the structure is A * structure
    int iterations = 0;
    bool converged = true;  // false when the iteration stopped at its step cap
    int starts = 1;         // of the gradient projection: the identity and random ones
    int best_starts = 1;    // those that reached the best criterion value (to 1e-9)
};

// The gradient projection's starts by default: the identity and random
// ones. Of 100 random starts at least 10 reached the best criterion value
// (within 1e-9) for every such rotation on each reference set (fewest:
// targetQ on the simulated 50 variables and bfi, 10 and 14; geomin 29 and
// up), so 100 miss it all with a chance below 1e-4 where one start in ten
// finds it, and below 1e-3 where one in fourteen does. (Bentler's oblique
// minimum on the simulated set, 8.8e-8, is flat: the starts end within
// 1e-6 of it, not 1e-9.)
inline constexpr int kDefaultRotationStarts = 100;

// The parameters of the rotations, each read by the rotations that take it.
struct RotationSettings {
    double promax_power = 4;              // the exponent promax raises the varimax loadings to
    double oblimin_gamma = 0;             // oblimin's gamma: 0 is quartimin, 0.5 biquartimin, 1 covarimin
    double geomin_delta = 0.01;           // what geomin adds to each squared loading
    Eigen::MatrixXd target;               // variables x factors: what targetT and targetQ rotate to
    bool normalize = false;               // Kaiser's normalization for every gradient-projection rotation
    int starts = kDefaultRotationStarts;  // of the gradient projection: the identity, then random ones
    std::uint64_t seed = 1;               // of the random starts
};

// A rotation criterion at loadings L: its value and its gradient dQ/dL.
struct Criterion {
    double value;
    Eigen::MatrixXd gradient;
};
using CriterionFunction = Criterion (*)(const Eigen::MatrixXd& loadings, const RotationSettings& settings);

// A parameter that a rotation takes from the command line, for the reports.
struct RotationParameter {
    const char* label;  // in the method line: "(power 4)"
    const char* key;    // in the JSON report: "promax_power"
    double RotationSettings::*value;
    // Said in the method line instead of a value of 0 ("(quartimin)"),
    // when the JSON report leaves the key out; or nullptr.
    const char* at_zero;
};

struct RotationMethod {
    const char* name;         // as --rotate names it
    const char* description;  // for the report
    bool rotates;             // false for the identity ("none")
    bool oblique;             // the factors may correlate
    bool kaiser_normalized;   // rotates the loadings' rows scaled to unit length
    // Plain principal components rotated by it keep their own score
    // coefficients V Lambda^-1/2 T and the components' order and sign rule
    // (--varimax); after the other rotations they get a factor model's weights.
    bool component_coefficients;
    const RotationParameter* parameter;  // or nullptr
    // The criterion that the gradient-projection routine minimizes, orthogonal
    // or oblique as `oblique` says; nullptr for a rotation with its own
    // algorithm in `own`.
    CriterionFunction criterion;
    bool takes_target;  // rotates to RotationSettings::target
    Rotation (*own)(const Eigen::MatrixXd& loadings, const RotationSettings& settings);
};

const RotationMethod* find_rotation(std::string_view name);
// The identity, "none".
const RotationMethod& no_rotation();
// Every rotation, in the order of the command line's help.
std::span<const RotationMethod> rotation_methods();

// Whether `method` rotates the loadings' rows scaled to unit length.
bool kaiser_normalized(const RotationMethod& method, const RotationSettings& settings);
// Whether RotationSettings::normalize changes what `method` does: every
// gradient-projection rotation, and promax (psych's, normalized throughout).
bool normalize_applies(const RotationMethod& method);

// The rotation of unrotated loadings A by `method`. One that does not
// converge by its step cap is the last one reached, with `converged` false.
// Throws FitError when the target's shape is not that of A.
Rotation rotate(const RotationMethod& method, const Eigen::MatrixXd& loadings, const RotationSettings& settings);

// Puts the factors in the order of the variance they explain (diag(Phi L'L))
// and signs each so that its pattern column sums to a positive value, or,
// given `signs` (columns already signed, as the components of the
// coefficient file are), so that it points the way of the column of its
// place: one sign rule for every output of a run.
void orient_factors(Rotation& rotation, const Eigen::MatrixXd* signs = nullptr);
