#include "fit/pairwise.h"

#include <algorithm>
#include <cmath>
#include <limits>

PairMoments::PairMoments(int variables)
    : variables_(variables),
      pairs_(index(variables, 0)),
      block_(pairs_.size()),
      present_(static_cast<std::size_t>(variables))
{
}

void PairMoments::reset()
{
    rows_ = 0;
    std::fill(pairs_.begin(), pairs_.end(), Pair());
}

void PairMoments::add(const double* rows, int count)
{
    std::fill(block_.begin(), block_.end(), Pair());
    // The present variables of a row, then every pair of them: the sums
    // first, the co-moments about the pair's block means in a second pass.
    const auto present = [&](const double* row) {
        int m = 0;
        for (int i = 0; i < variables_; ++i)
            if (!std::isnan(row[i]))
                present_[static_cast<std::size_t>(m++)] = i;
        return m;
    };
    for (int pass = 0; pass < 2; ++pass) {
        for (int r = 0; r < count; ++r) {
            const double* row = rows + static_cast<std::size_t>(r) * static_cast<std::size_t>(variables_);
            const int m = present(row);
            for (int s = 0; s < m; ++s) {
                const int i = present_[static_cast<std::size_t>(s)];
                Pair* line = block_.data() + index(i, 0);
                for (int t = 0; t <= s; ++t) {
                    const int j = present_[static_cast<std::size_t>(t)];
                    Pair& pair = line[j];
                    if (pass == 0) {
                        ++pair.n;
                        pair.mean_a += row[i];
                        pair.mean_b += row[j];
                    } else {
                        const double a = row[i] - pair.mean_a, b = row[j] - pair.mean_b;
                        pair.ab += a * b;
                        pair.aa += a * a;
                        pair.bb += b * b;
                    }
                }
            }
        }
        if (pass == 0)
            for (Pair& pair : block_)
                if (pair.n > 0) {
                    pair.mean_a /= static_cast<double>(pair.n);
                    pair.mean_b /= static_cast<double>(pair.n);
                }
    }
    combine(block_);
    rows_ += count;
}

void PairMoments::merge(const PairMoments& later)
{
    combine(later.pairs_);
    rows_ += later.rows_;
}

void PairMoments::combine(const std::vector<Pair>& later)
{
    for (std::size_t k = 0; k < pairs_.size(); ++k) {
        Pair& a = pairs_[k];
        const Pair& b = later[k];
        if (b.n == 0)
            continue;
        if (a.n == 0) {
            a = b;
            continue;
        }
        const double n = static_cast<double>(a.n + b.n), na = static_cast<double>(a.n), nb = static_cast<double>(b.n);
        const double da = b.mean_a - a.mean_a, db = b.mean_b - a.mean_b, f = na * nb / n;
        a.ab += b.ab + da * db * f;
        a.aa += b.aa + da * da * f;
        a.bb += b.bb + db * db * f;
        a.mean_a += da * nb / n;
        a.mean_b += db * nb / n;
        a.n += b.n;
    }
}

Eigen::VectorXd PairMoments::mean() const
{
    Eigen::VectorXd mean(variables_);
    for (int i = 0; i < variables_; ++i)
        mean[i] = at(i, i).mean_a;
    return mean;
}

Eigen::VectorXd PairMoments::std() const
{
    Eigen::VectorXd std(variables_);
    for (int i = 0; i < variables_; ++i)
        std[i] = std::sqrt(at(i, i).aa / static_cast<double>(at(i, i).n - 1));
    return std;
}

Eigen::MatrixXd PairMoments::correlation() const
{
    Eigen::MatrixXd r = Eigen::MatrixXd::Identity(variables_, variables_);
    for (int i = 0; i < variables_; ++i)
        for (int j = 0; j < i; ++j) {
            const Pair& pair = at(i, j);
            r(i, j) = r(j, i) = pair.ab / (std::sqrt(pair.aa) * std::sqrt(pair.bb));
        }
    return r;
}

Eigen::MatrixXd PairMoments::covariance() const
{
    Eigen::MatrixXd c(variables_, variables_);
    for (int i = 0; i < variables_; ++i)
        for (int j = 0; j <= i; ++j)
            c(i, j) = c(j, i) = at(i, j).ab / static_cast<double>(at(i, j).n - 1);
    return c;
}

PairCounts pair_counts(const PairMoments& pairs, const std::vector<std::string>& names)
{
    const int p = pairs.variables();
    const auto name = [&](int i) {
        return std::to_string(i + 1) + (names.empty() ? "" : " (" + names[static_cast<std::size_t>(i)] + ")");
    };
    const Eigen::VectorXd std = pairs.std();
    const Eigen::MatrixXd r = pairs.correlation();
    PairCounts result;
    result.counts.resize(p, p);
    result.smallest = std::numeric_limits<long long>::max();
    for (int i = 0; i < p; ++i)
        for (int j = 0; j <= i; ++j) {
            const long long n = result.counts(i, j) = result.counts(j, i) = pairs.count(i, j);
            const std::string rows = std::to_string(n) + " row" + (n == 1 ? "" : "s");
            if (n < 2 && i == j)
                throw FitError("variable " + name(i) + " is present in " + rows + "; a correlation needs at least 2");
            if (n < 2)
                throw FitError("variables " + name(j) + " and " + name(i) + " are both present in " + rows +
                               "; a pairwise correlation needs at least 2");
            if (i == j && !(std[i] > 0))
                throw FitError("variable " + name(i) + " is constant (its standard deviation is 0)");
            // One of the pair constant over the pair's rows: no correlation.
            if (i != j && !std::isfinite(r(i, j)))
                throw FitError("variables " + name(j) + " and " + name(i) + ": one of them is constant over the " +
                               rows + " where both are present");
            if (i != j && n < result.smallest) {
                result.smallest = n;
                result.first = j;
                result.second = i;
            }
        }
    if (p == 1)
        result.smallest = result.counts(0, 0);
    return result;
}
