// The extraction methods of scorix-fit: principal components, principal axis
// factoring, maximum likelihood and minimum residual, weighted and generalized
// least squares, each one function from
// a correlation (or covariance) matrix and a number of factors to unrotated
// loadings and uniquenesses, listed in one table that the command line names.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include <Eigen/Core>

struct Extraction {
    Eigen::MatrixXd loadings;  // variables x factors, unrotated
    // The diagonal of the matrix less the communalities; maximum likelihood's
    // are those it fitted, which equal them at its optimum.
    Eigen::VectorXd uniquenesses;
    // Those the search of maximum likelihood or least squares fitted, which
    // its bound holds (least squares leaves the diagonal out of its fit, so
    // these need not be the diagonal less the communalities); empty for the
    // methods without such a search.
    Eigen::VectorXd fitted;
    int iterations = 0;     // of principal axis, or of the best start's search
    double objective = 0;   // maximum likelihood, minimum residual: what is minimized
    bool converged = true;  // the best start's projected gradient is within tolerance
    int starts = 0;         // the starts searched from
    int best_starts = 0;    // and how many of them reached the best objective
};

enum class ChiSquareSource {
    none,        // no chi-square (components, principal axis)
    likelihood,  // the discrepancy minimized, reported in the coefficient file and the console too
    model,       // the likelihood discrepancy of the model's matrix, as psych's fa (JSON report only)
};

struct ExtractionMethod {
    const char* name;         // as --method names it
    const char* description;  // for the report: "principal axis factoring"
    // Principal components: the uniquenesses are what the components leave
    // out, no estimate (no Heywood warning), and plain components keep their
    // own coefficients.
    bool components;
    // What the model's chi-square, RMSEA, TLI and BIC are computed from.
    ChiSquareSource chi_square;
    bool bounded;  // holds the uniquenesses at kLeastUniqueness or above
    // Throws FitError when the model cannot be fitted (too many factors, no
    // convergence of principal axis, an imaginary loading). The seed draws
    // the random starts of maximum likelihood and minimum residual.
    Extraction (*extract)(const Eigen::MatrixXd& matrix, int factors, std::uint64_t seed);
    // The largest number of factors the method fits to `variables` variables.
    int (*most_factors)(int variables);
};

const ExtractionMethod* find_extraction(std::string_view name);

// Lower and upper bounds of the uniquenesses maximum likelihood and minimum
// residual search (of the variances).
inline constexpr double kLeastUniqueness = 0.005, kMostUniqueness = 1.0;

// Maximum likelihood and minimum residual search from this many starts: the
// one from the squared multiple correlations and the rest drawn at random.
inline constexpr int kLikelihoodStarts = 30;
