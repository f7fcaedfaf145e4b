// Pairwise missing values (--missing=pairwise): the co-moments of every pair
// of variables over the rows where both are present, streamed block by
// block and merged in file order as Moments are, and the checks and
// figures the outputs share. Each variable's own figures (its mean and
// standard deviation) are those of its own present values, the pair (i, i).
#pragma once

#include <string>
#include <vector>

#include <Eigen/Core>

#include "fit/fit_error.h"

class PairMoments {
public:
    explicit PairMoments(int variables);

    // Adds `count` rows stored one after another, a missing value NaN, as
    // one block: each pair's means and co-moments over the block's rows
    // where both are present (two passes), merged into the earlier ones.
    void add(const double* rows, int count);
    // Adds the moments of rows that follow these ones:
    //   n = na + nb,  d = mean_b - mean_a (of each variable of the pair),
    //   mean = mean_a + d nb / n,  C = C_a + C_b + d d' na nb / n
    void merge(const PairMoments& later);
    void reset();

    int variables() const { return variables_; }
    long long rows() const { return rows_; }  // every row added, complete or not
    // The rows where variables i and j are both present (i = j: i's own).
    long long count(int i, int j) const { return at(i, j).n; }
    Eigen::VectorXd mean() const;
    // The mean of variable i over the rows where i and j are both present.
    double mean(int i, int j) const { return i >= j ? at(i, j).mean_a : at(j, i).mean_b; }
    Eigen::VectorXd std() const;  // divisor n - 1
    // Each pair's correlation from its own means and standard deviations
    // over its rows (R's cor(use = "pairwise.complete.obs")).
    Eigen::MatrixXd correlation() const;
    // Each pair's co-moment over n - 1 of its rows (R's cov, the same use).
    Eigen::MatrixXd covariance() const;

private:
    friend struct MomentCodec;  // moment files keep the state as it is
    struct Pair {
        long long n = 0;
        double mean_a = 0, mean_b = 0;  // of i and of j, over the pair's rows
        double ab = 0, aa = 0, bb = 0;  // co-moments about those means
    };
    static std::size_t index(int i, int j) { return static_cast<std::size_t>(i) * (i + 1) / 2 + j; }  // i >= j
    const Pair& at(int i, int j) const { return i >= j ? pairs_[index(i, j)] : pairs_[index(j, i)]; }
    void combine(const std::vector<Pair>& later);

    int variables_;
    long long rows_ = 0;
    std::vector<Pair> pairs_;  // (i, j), j <= i, row by row
    std::vector<Pair> block_;  // scratch of add()
    std::vector<int> present_;
};

// What the outputs say of a pairwise run: each pair's count (the diagonal
// each variable's own), the smallest and its pair, and whether the matrix
// was smoothed.
struct PairCounts {
    Eigen::Matrix<long long, Eigen::Dynamic, Eigen::Dynamic> counts;
    long long smallest = 0;
    int first = 0, second = 0;  // the pair of the smallest count (from 0)
    bool smoothed = false;
};

// The counts of `pairs`, checked: throws FitError naming both variables
// (by `names` when there are any) of a pair present together in fewer
// than 2 rows, and a variable constant over its present values.
PairCounts pair_counts(const PairMoments& pairs, const std::vector<std::string>& names);
