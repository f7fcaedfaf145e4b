// A factor solution of scorix-fit: the extraction and the rotation that the
// command line names, the factors ordered and signed, and the score weights
// of the chosen type (each type one function in a table).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include <Eigen/Core>

#include "fit/factor_extraction.h"
#include "fit/rotation.h"

struct FactorSolution {
    Extraction extraction;      // the unrotated loadings
    Rotation rotation;          // pattern, factor correlations, structure map
    Eigen::MatrixXd structure;  // variables x factors: pattern * phi
    Eigen::VectorXd communalities;
    Eigen::VectorXd uniquenesses;
    Eigen::VectorXd variance;  // explained by each factor: diag(Phi L'L)
    Eigen::MatrixXd weights;   // variables x factors: the score coefficients
    std::vector<int> heywood;  // the variables (from 0) whose uniqueness is at most 0.005 of their variance
};

struct ScoreMethod {
    const char* name;         // as --scores names it
    const char* description;  // for the report
    // The weights W that make scores z'W of standardized rows z.
    Eigen::MatrixXd (*weights)(const Eigen::MatrixXd& matrix, const FactorSolution& solution);
};

const ScoreMethod* find_scores(std::string_view name);

struct FactorSettings {
    const ExtractionMethod* method;
    const RotationMethod* rotation;
    const ScoreMethod* scores;
    int factors;
    RotationSettings rotation_settings;
    std::uint64_t seed = 1;  // of maximum likelihood's random starts
};

// Throws FitError when a step fails (see the methods). The factors are
// signed as orient_factors says, by `signs` when given.
FactorSolution factor_solution(const Eigen::MatrixXd& matrix, const FactorSettings& settings,
                               const Eigen::MatrixXd* signs = nullptr);
