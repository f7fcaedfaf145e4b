// The extraction methods of scorix-fit: principal components, principal axis
// factoring and maximum likelihood, each one function from a correlation (or
// covariance) matrix and a number of factors to unrotated loadings and
// uniquenesses, listed in one table that the command line names.
#pragma once

#include <span>
#include <string_view>

#include <Eigen/Core>

struct Extraction {
    Eigen::MatrixXd loadings;      // variables x factors, unrotated
    Eigen::VectorXd uniquenesses;  // the diagonal of the matrix less the communalities
    int iterations = 0;            // of principal axis or maximum likelihood
    double objective = 0;          // maximum likelihood: the discrepancy minimized
};

struct ExtractionMethod {
    const char* name;         // as --method names it
    const char* description;  // for the report: "principal axis factoring"
    // Throws FitError when the model cannot be fitted (too many factors, no
    // convergence, an imaginary loading).
    Extraction (*extract)(const Eigen::MatrixXd& matrix, int factors);
    // The largest number of factors the method fits to `variables` variables.
    int (*most_factors)(int variables);
};

const ExtractionMethod* find_extraction(std::string_view name);

// Lower and upper bounds of the uniquenesses maximum likelihood searches.
inline constexpr double kLeastUniqueness = 0.005, kMostUniqueness = 1.0;
