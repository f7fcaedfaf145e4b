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
// all rows seen so far. Each block is centred on its own mean and merged
// with the pairwise update, so values far from zero lose no precision.
class Moments {
public:
    using Block = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

    explicit Moments(int variables);

    // Adds `count` rows stored one after another, `variables` values each.
    void add(const double* rows, int count);
    // Adds the rows that `other` has seen, as if they came after these.
    void merge(const Moments& other);
    // Forgets every row; the storage stays for the next ones.
    void reset();

    long long rows() const { return rows_; }
    const Eigen::VectorXd& mean() const { return mean_; }
    Eigen::MatrixXd comoments() const;
    // The first variable (from 0) whose values are all equal, or -1.
    int constant_variable() const;

private:
    long long rows_ = 0;
    Eigen::VectorXd mean_;
    Eigen::MatrixXd comoments_;  // lower triangle only
    Eigen::VectorXd low_, high_;
    Block centred_;
};

struct FitOptions {
    bool covariance = false;  // components of the covariance matrix, not of R
    bool varimax = false;     // rotate the first `factors` components
    int factors = 0;          // 0: the number of eigenvalues >= 1, at least 1
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
};

// The components or factors of the moments. Throws FitError for fewer than
// two rows, a constant variable, or a matrix of lower rank than its order.
Fit fit(const Moments& moments, const FitOptions& options);
