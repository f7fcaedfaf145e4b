// The figures that say whether a factor model suits the data and how many
// factors to keep: Kaiser's measure of sampling adequacy, Bartlett's test of
// sphericity, a model's fit statistics and residuals, Velicer's
// minimum average partial and Horn's parallel analysis, all from the
// correlation matrix and the number of rows.
#pragma once

#include <cstdint>

#include <Eigen/Core>

struct SamplingAdequacy {
    double overall = 0;
    Eigen::VectorXd variables;
};
// Kaiser-Meyer-Olkin: sum r^2 / (sum r^2 + sum q^2) over the off-diagonal
// correlations r and partial correlations q (Kaiser 1970, as psych's KMO).
SamplingAdequacy sampling_adequacy(const Eigen::MatrixXd& r);

struct ChiSquareTest {
    double chi2 = 0, df = 0, p = 0;
};
// Bartlett (1951): -(n - 1 - (2p + 5) / 6) log det R on p(p - 1)/2 degrees of freedom.
ChiSquareTest sphericity(const Eigen::MatrixXd& r, long long rows);

struct ModelFit {
    ChiSquareTest test;
    double rmsea = 0, tli = 0, bic = 0;
    double rmsea_lower = 0, rmsea_upper = 0;  // RMSEA's 90 % interval
    double objective = 0;                     // the discrepancy the chi-square is of
};
// The fit of k factors whose likelihood discrepancy is `objective`
// (Bartlett's corrected chi-square as R's factanal; RMSEA, its interval,
// Tucker-Lewis index and BIC as psych's fa).
ModelFit model_fit(const Eigen::MatrixXd& r, long long rows, int factors, double objective);

// The likelihood discrepancy tr(M^-1 S) - log det(M^-1 S) - p of the model's
// matrix M = L Phi L' with the diagonal of S, from the data's S: how psych's
// fa judges a model fitted by other means than maximum likelihood.
double model_discrepancy(const Eigen::MatrixXd& s, const Eigen::MatrixXd& pattern, const Eigen::MatrixXd& phi);

struct ResidualFit {
    Eigen::MatrixXd residuals;   // S - L Phi L': off the diagonal the residual correlations, on it the uniquenesses
    double rmsr = 0;             // the root mean square of the off-diagonal residuals
    Eigen::VectorXd complexity;  // Hoffman's, of each variable: (sum a^2)^2 / sum a^4 over its pattern row
};
ResidualFit residual_fit(const Eigen::MatrixXd& s, const Eigen::MatrixXd& pattern, const Eigen::MatrixXd& phi);

// Kaiser's rule: the number of eigenvalues of the correlation matrix of at
// least 1 (their mean), and at least 1. The covariance matrix's own would
// count differently for the same data in other units.
int kaiser_factors(const Eigen::VectorXd& correlation_eigenvalues);

struct AveragePartial {
    Eigen::VectorXd values;  // entry m - 1: after the first m components
    int factors = 1;         // the m of the smallest value (the first of equals), 1 for one variable
};
// Velicer's (1976) minimum average partial: the mean squared partial
// correlation after the first m principal components, m = 1 .. p - 1.
AveragePartial minimum_average_partial(const Eigen::MatrixXd& r);

struct ParallelAnalysis {
    Eigen::VectorXd observed;   // the eigenvalues compared
    Eigen::VectorXd simulated;  // what the count compares: the replicates' mean eigenvalues, or their quantile
    Eigen::VectorXd mean;       // the replicates' mean eigenvalues, decreasing
    Eigen::VectorXd spread;     // their standard deviations
    Eigen::VectorXd upper;      // their 95th percentiles (none past 1e7 eigenvalues), for the report
    int factors = 0;            // observed eigenvalues above the simulated, in a row
};
// Horn (1965): the eigenvalues of correlation matrices of `rows` independent
// normal rows, `replicates` times, drawn as Wishart matrices (Bartlett's
// decomposition) so that the cost does not grow with the rows. The generator
// is the program's own: the same seed gives the same figures on every machine.
// With `reduced`, those of the reduced matrices (reduced_correlation) of the
// same draws, for common factors; with a `quantile` (in (0, 1)), `simulated`
// holds that quantile of the replicates' eigenvalues (R's default, type 7)
// instead of their mean.
ParallelAnalysis parallel_analysis(const Eigen::VectorXd& observed, long long rows, int replicates, std::uint64_t seed,
                                   bool reduced = false, double quantile = 0);

// The correlation matrix with the squared multiple correlations on its
// diagonal, whose eigenvalues parallel analysis of common factors compares.
Eigen::MatrixXd reduced_correlation(const Eigen::MatrixXd& r);
