// What scorix-fit writes: the text of the coefficient file (comment lines
// with the method, the eigenvalues and the loadings, then the sections that
// scorix reads, every number with 17 significant digits) and the console
// table of the eigenvalues.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fit/correlation.h"
#include "fit/factor_adequacy.h"
#include "fit/factor_analysis.h"
#include "fit/factor_count.h"
#include "fit/pairwise.h"
#include "fit/reliability.h"

// Where a fit came from, for the comment lines.
struct FitSource {
    std::vector<std::string> files;
    long long rows = 0;
    std::vector<std::string> names;        // the variables' names, when the data had a header
    std::optional<long long> dropped;      // rows left out for a missing value (--drop-incomplete)
    std::string matrix;                    // "correlation" or "covariance": the data file held that matrix (--input)
    const CorrelationType* cor = nullptr;  // --cor; nothing: pearson
    const OrdinalCorrelation* ordinal = nullptr;  // its matrix and thresholds, of an ordinal type
    const PairCounts* pairs = nullptr;            // pairwise missing values: each pair's count
};

// A factor model beside the components: the solution and the figures that
// judge it. Every fit has one; for the plain components (or their varimax)
// it is the retained components, whose communalities and adequacy figures
// are reported beside the coefficients.
struct FactorReport {
    FactorSettings settings;
    FactorSolution solution;
    SamplingAdequacy kmo;
    ChiSquareTest sphericity;
    std::optional<ModelFit> fit;   // of a method with a chi-square
    ResidualFit residual;          // of the pattern reported
    FactorCount count;             // how many factors: -k's rule and its figures
    bool in_coefficients = false;  // the first columns of the coefficients are its weights
    double cut = 0;                // the console table blanks loadings of smaller magnitude (--cut)
    // The scales asked for (--scale, --reliability) and the reliability of each.
    std::vector<Scale> scales;
    std::vector<ScaleReliability> reliability;
};

// With a factor report, the comment lines also give its communalities, KMO,
// sphericity test and maximum likelihood's fit; when its weights are in the coefficients, also
// its method, factor variances, pattern and factor correlations. Throws
// FitError for a variable's name holding a line break.
std::string coefficient_text(const Fit& result, bool covariance, const FitSource& source,
                             const FactorReport* factors = nullptr);

// Component, eigenvalue, % of variance and cumulative %, one line each; then
// the factor model's variances and figures. A factor model in the
// coefficients shows its loadings table (the pattern, sorted as
// sorted_variables says, loadings below the report's cut blanked, with the
// communalities and uniquenesses beside them) and, for an oblique rotation,
// its factor correlations; the plain components their communalities alone.
std::string eigenvalue_table(const Fit& result, bool covariance, const FitSource& source,
                             const FactorReport* factors = nullptr);

// The lines after the table for the scales' reliability, a line each: its
// name, number of items, alpha, standardized alpha, lambda 6, omega
// hierarchical and total ('-' without omega) and omega's group factors.
std::string reliability_table(const std::vector<Scale>& scales, const std::vector<ScaleReliability>& values);

// The text before the tables of every output: "principal components of the
// correlation matrix", or the factor model's method, rotation and scores.
std::string method_description(const Fit& result, bool covariance, const FactorReport* factors);
// "polychoric correlations (...)": how the matrix of an ordinal type was made.
std::string ordinal_note(const FitSource& source);
// "pairwise missing values: ...": each pair from the rows where both are
// present, and the smallest pair count.
std::string pairs_note(const FitSource& source);

// The variance each factor explains as the outputs report it: the varimax
// factors of plain components are those of the coefficients.
Eigen::VectorXd factor_variance(const Fit& result, const FactorReport& factors);

// A loading that the outputs blank or fade: of magnitude below the cut.
bool below_cut(double loading, double cut);

// The variables (from 0) in the order of the loadings table: grouped by the
// factor each loads on most in magnitude (the first of equals), the groups in
// factor order, each by that loading's magnitude, largest first.
std::vector<int> sorted_variables(const Eigen::MatrixXd& pattern);
