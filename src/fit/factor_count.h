// How many factors scorix-fit keeps (-k): a number given, or a rule over the
// correlation matrix (kaiser, parallel, map), each one function in a table
// that -k names. A rule's outcome holds the count, what it compared and its
// section of the report (the parallel analysis or the MAP values).
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <Eigen/Core>

#include "fit/factor_adequacy.h"

// What parallel analysis compares (--parallel): the eigenvalues of the
// correlation matrix (components), those of the reduced correlation matrix
// (common factors), or both, counting by the model fitted.
struct ParallelKind {
    const char* name;  // as --parallel names it
    bool components, factors;
};
// The kind --parallel `name` names, or nullptr.
const ParallelKind* find_parallel(std::string_view name);

// What a rule reads. Every rule reads the correlation matrix, with
// --covariance too, so that the count does not depend on the variables'
// units.
struct CountInput {
    const Eigen::MatrixXd& correlation;
    const Eigen::VectorXd& eigenvalues;  // of the correlation matrix, decreasing
    long long rows = 0;
    int factors = 0;         // the number given
    int replicates = 0;      // of parallel analysis (--replicates)
    std::uint64_t seed = 0;  // and its seed (--seed)
    const ParallelKind* parallel = find_parallel("pc");
    double quantile = 0;          // of the replicates' eigenvalues (--quantile); 0: their mean
    bool common_factors = false;  // the model fits common factors: --parallel=both counts them
};

// A rule's outcome.
struct FactorCount {
    int factors = 0;
    // What the count compared: the correlation matrix's eigenvalues (kaiser,
    // parallel) or the average partials (map); nothing for a number.
    Eigen::VectorXd compared;
    std::optional<ParallelAnalysis> parallel;          // -k parallel, of the components
    std::optional<ParallelAnalysis> parallel_factors;  // and of the common factors
    int replicates = 0;
    std::uint64_t seed = 0;
    double quantile = 0;
    std::optional<AveragePartial> map;  // -k map
};

struct FactorCountRule {
    const char* name;  // as -k names it
    // Earlier versions had it (a number, kaiser): the plain components keep
    // their coefficients with it.
    bool components;
    FactorCount (*count)(const CountInput& input);
};

// The rule that -k `name` names, or nullptr (a number, then).
const FactorCountRule* find_factor_count(std::string_view name);
// The rule of a number given: the count is CountInput::factors.
const FactorCountRule* given_factor_count();
