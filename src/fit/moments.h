// The moments of scorix-fit: means and co-moments of rows streamed block by
// block, from which every fit starts.
#pragma once

#include <Eigen/Core>

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
    friend struct MomentCodec;  // moment files keep the state as it is
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
