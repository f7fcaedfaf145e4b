// The fit pipeline of scorix-fit: the matrix of the moments and its
// principal components (analyse), a factor solution (the extraction and the
// rotation that the command line names, the factors ordered and signed by an
// orientation policy, and the score weights of the chosen type, each type
// one function in a table), and the coefficients scorix applies: the
// solution's weights in front of the remaining components (use_weights).
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include <Eigen/Core>

#include "fit/factor_extraction.h"
#include "fit/fit_error.h"
#include "fit/moments.h"
#include "fit/rotation.h"

// The analysed matrix of a run and its principal components, and the
// coefficient file's matrices once use_weights has put a solution in them.
struct Fit {
    Eigen::VectorXd mean, std;     // std is all 1 for the covariance method
    Eigen::MatrixXd analysed;      // the correlation or covariance matrix
    Eigen::VectorXd eigenvalues;   // decreasing
    Eigen::MatrixXd eigenvectors;  // column s belongs to eigenvalue s, signed as its coefficients
    // Row k variable k, column s score s: the components' coefficients
    // V Lambda^-1/2, each column signed so that its entry of largest
    // magnitude is positive, until turn_components or use_weights puts
    // others in front.
    Eigen::MatrixXd coefficients;
    Eigen::MatrixXd loadings;  // correlation of variable k with score s
    int rotated = 0;           // leading columns that are rotated components
    int iterations = 0;        // of their rotation
    bool converged = true;     // false when their rotation stopped at its step cap
    // Those of the correlation matrix, which the factor counts compare
    // (with the covariance method, of a matrix not decomposed above).
    Eigen::VectorXd correlation_eigenvalues;
};

// The correlation (or, `covariance`, the covariance) matrix of the moments
// and its components. Throws FitError for fewer than two rows, no more rows
// than variables, a constant variable, variables out of the range of
// doubles, or a matrix of lower rank than its order.
// `given`, when there is one, is the correlation matrix analysed instead of the
// moments' own (polychoric, say); the moments still give the means and
// standard deviations.
Fit analyse(const Moments& moments, bool covariance, const Eigen::MatrixXd* given = nullptr);

// The same from a correlation or covariance matrix given as input (checked
// symmetric, with a unit or positive diagonal) of `rows` observations, the
// coefficient file's means and standard deviations given (with
// `covariance`, the standard deviations are 1 whatever is given).
Fit analyse_matrix(const Eigen::MatrixXd& matrix, long long rows, bool covariance, Eigen::VectorXd mean,
                   Eigen::VectorXd std);

struct FactorSolution {
    Extraction extraction;      // the unrotated loadings
    Rotation rotation;          // pattern, factor correlations, structure map
    Eigen::MatrixXd structure;  // variables x factors: pattern * phi
    Eigen::VectorXd communalities;
    Eigen::VectorXd uniquenesses;
    Eigen::VectorXd variance;  // explained by each factor: diag(Phi L'L)
    Eigen::MatrixXd weights;   // variables x factors: the score coefficients
    std::vector<int> heywood;  // the variables (from 0) whose heywood_uniquenesses are at most 0.005 of their variance
};

struct ScoreMethod {
    const char* name;         // as --scores names it
    const char* description;  // for the report
    // For plain principal components these are their own coefficients
    // (regression: R^-1 S = V Lambda^-1/2), which the components keep.
    bool component_coefficients;
    // The weights W that make scores z'W of standardized rows z.
    Eigen::MatrixXd (*weights)(const Eigen::MatrixXd& matrix, const FactorSolution& solution);
};

const ScoreMethod* find_scores(std::string_view name);
// Every score type, in the order of --scores's list.
std::span<const ScoreMethod> score_methods();

struct FactorSettings {
    const ExtractionMethod* method;
    const RotationMethod* rotation;
    const ScoreMethod* scores;
    int factors;
    RotationSettings rotation_settings;
    std::uint64_t seed = 1;  // of maximum likelihood's random starts
};

// The orientation policy of a run: plain principal components (rotated
// or not) keep their own coefficients, order and signs, and their factor
// model is signed as they are; a factor model's factors are ordered and
// signed by orient_factors, and its score weights go in front of the
// remaining components.
//
// Plain components: turns the first settings.factors components of `fit`
// by the settings' rotation (one that keeps the components' coefficients,
// orthogonal), the rotated factors in front by decreasing variance
// explained, each signed so that its loadings sum to a positive number;
// their coefficients are the components' own turned by the rotation T,
// V_k Lambda_k^-1/2 T. Nothing is turned for the identity.
void turn_components(Fit& fit, const FactorSettings& settings);

// The solution of the settings on `matrix`, its factors ordered and signed
// as orient_factors says (by `signs` when given: the loadings of the
// components that the solution reports on). Throws FitError when a step
// fails (see the methods).
FactorSolution factor_solution(const Eigen::MatrixXd& matrix, const FactorSettings& settings,
                               const Eigen::MatrixXd* signs = nullptr);

// How well scores of `weights` (variables x factors) on `matrix` estimate
// the solution's factors: the correlation of each factor with its score,
// (S'W)_ss / sqrt((W' A W)_ss), S the structure. For regression weights it is
// the determinacy, whose square is their R^2 and 2 R^2 - 1 the least
// correlation two scores that fit the model equally well can have.
Eigen::VectorXd score_validity(const Eigen::MatrixXd& matrix, const FactorSolution& solution,
                               const Eigen::MatrixXd& weights);

// The uniquenesses a Heywood case is found in and reported by: those the
// search fitted, which its bound holds, or the reported ones of a method
// without a bound.
const Eigen::VectorXd& heywood_uniquenesses(const FactorSolution& solution);

// A factor model: puts the solution's weights in front of the remaining
// components; the loadings become the correlations of the variables with
// those scores. Throws FitError when they make a singular matrix.
void use_weights(Fit& fit, const FactorSolution& solution);
