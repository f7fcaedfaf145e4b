// The statistics of scorix-fit: means and co-moments of rows streamed block
// by block, and from them the principal components (optionally varimax
// rotated) and the score coefficients that scorix applies.
#pragma once

#include <stdexcept>
#include <vector>

#include <Eigen/Core>

// A fit that cannot be made from the data; the text says why.
struct FitError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Means and co-moments (sums of products of deviations from the mean) of
// rows streamed block by block, kept small enough to be merged: a reader may
// sum blocks on several threads and merge them in file order.
//
// Each block is summed relative to its own first row, an origin that is
// represented exactly, so that data far from zero (1e12 + 0.125 k) are
// summed as their small differences from it: the means come within an ulp
// and the co-moments within about 1e-14 relative of the exact values
// whenever those differences are exact in double. Within a block the
// co-moments are taken about the block's rounded mean and corrected by the
// residual sums of the centred values (the corrected two-pass form).
//
// merge() of the moments of rows a and of the rows b that follow them:
//   n = na + nb,  delta = (origin_b - origin_a) + (mean_b - mean_a)
//   mean = mean_a + delta nb / n   (about origin_a)
//   C = C_a + C_b + delta delta' na nb / n
// The bits depend only on the rows, the block boundaries and the order of
// merges, never on which thread summed a block: readers that cut blocks at
// the same rows and merge them in file order give the same fit.
class Moments {
public:
    using Block = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

    explicit Moments(int variables);

    // Adds `count` rows stored one after another, `variables` values each,
    // as one block.
    void add(const double* rows, int count);
    // Adds the moments of rows that follow these ones.
    void merge(const Moments& later);
    // Forgets every row; the scratch storage stays for the next ones.
    void reset() { rows_ = 0; }

    long long rows() const { return rows_; }
    Eigen::VectorXd mean() const { return origin_ + mean_; }
    Eigen::MatrixXd comoments() const;
    // The first variable (from 0) whose values are all equal, or -1.
    int constant_variable() const;

private:
    void combine(long long rows, const Eigen::VectorXd& origin, const Eigen::VectorXd& mean,
                 const Eigen::MatrixXd& comoments, const Eigen::VectorXd& low, const Eigen::VectorXd& high);

    long long rows_ = 0;
    Eigen::VectorXd origin_;     // the first row seen
    Eigen::VectorXd mean_;       // the mean of the rows minus origin_
    Eigen::MatrixXd comoments_;  // lower triangle only
    Eigen::VectorXd low_, high_;
    Block centred_;                    // scratch of add(), not part of the value
    Eigen::MatrixXd block_comoments_;  // scratch of add()
};

struct FitOptions {
    bool covariance = false;  // components of the covariance matrix, not of R
    bool varimax = false;     // rotate the first `factors` components
    int factors = 0;          // 0: kaiser_factors
};

struct Fit {
    Eigen::VectorXd mean, std;     // std is all 1 for the covariance method
    Eigen::MatrixXd analysed;      // the correlation or covariance matrix
    Eigen::VectorXd eigenvalues;   // decreasing
    Eigen::MatrixXd eigenvectors;  // column s belongs to eigenvalue s
    Eigen::MatrixXd coefficients;  // row k variable k, column s score s
    Eigen::MatrixXd loadings;      // correlation of variable k with score s
    int rotated = 0;               // leading columns that are varimax factors
    int iterations = 0;            // varimax iterations taken
    bool converged = true;         // false when varimax stopped at its step cap
    // Those of the correlation matrix, which the factor counts compare
    // (with the covariance method, of a matrix not decomposed above).
    Eigen::VectorXd correlation_eigenvalues;
};

// The correlation matrix of co-moments, with an exact unit diagonal.
Eigen::MatrixXd correlation(const Eigen::MatrixXd& comoments);

// Kaiser's rule: the number of eigenvalues of the correlation matrix of at
// least 1 (their mean), and at least 1. The covariance matrix's own would
// count differently for the same data in other units.
int kaiser_factors(const Eigen::VectorXd& correlation_eigenvalues);

// Kaiser-normalized varimax: the orthogonal rotation T of `loadings` that
// maximizes the varimax criterion of its rows scaled to unit length,
// iterated until no element of T changes by more than kVarimaxChange (at
// most kVarimaxIterations steps, the count taken is left in `iterations`;
// `converged` says whether the change fell to kVarimaxChange before the cap).
// One factor is not turned: the identity, converged after 0 iterations.
inline constexpr double kVarimaxChange = 1e-14;
inline constexpr int kVarimaxIterations = 1000;
Eigen::MatrixXd varimax(const Eigen::MatrixXd& loadings, int& iterations, bool& converged);

// The components or factors of the moments. Throws FitError for fewer than
// two rows, a constant variable, or a matrix of lower rank than its order.
Fit fit(const Moments& moments, const FitOptions& options);
