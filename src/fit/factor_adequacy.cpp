#include "fit/factor_adequacy.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "common/progress.h"
#include "fit/linear_algebra.h"

using Eigen::MatrixXd;
using Eigen::VectorXd;

namespace {

constexpr const char* kNotPositiveDefinite = "the correlation matrix is not positive definite";

double log_determinant(const MatrixXd& r)
{
    return 2 * cholesky(r, kNotPositiveDefinite).matrixLLT().diagonal().array().log().sum();
}

// The regularized upper incomplete gamma function Q(a, x): the series of P
// below a + 1, Lentz's continued fraction above (Numerical Recipes 6.2).
double upper_gamma(double a, double x)
{
    if (!(x > 0))
        return 1;
    const double front = std::exp(-x + a * std::log(x) - std::lgamma(a));
    if (x < a + 1) {
        double term = 1 / a, sum = term;
        for (int n = 1; n < 10000 && std::abs(term) > std::abs(sum) * 1e-17; ++n) {
            term *= x / (a + n);
            sum += term;
        }
        return 1 - front * sum;
    }
    constexpr double tiny = 1e-300;
    double b = x + 1 - a, c = 1 / tiny, d = 1 / b, h = d;
    for (int n = 1; n < 10000; ++n) {
        const double an = -n * (n - a);
        b += 2;
        d = an * d + b;
        d = std::abs(d) < tiny ? tiny : d;
        c = b + an / c;
        c = std::abs(c) < tiny ? tiny : c;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::abs(delta - 1) < 1e-17)
            break;
    }
    return front * h;
}

// xoshiro256** (Blackman and Vigna 2018) seeded by splitmix64, and the
// variates it gives with nothing but IEEE arithmetic (the logarithm is our
// own series), so that a seed gives the same numbers everywhere.
class Generator {
public:
    explicit Generator(std::uint64_t seed)
    {
        for (std::uint64_t& word : state_) {
            seed += 0x9e3779b97f4a7c15u;
            std::uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
            word = z ^ (z >> 31);
        }
    }

    // Uniform in (0, 1).
    double uniform() { return (static_cast<double>(next() >> 11) + 0.5) * 0x1p-53; }

    // Marsaglia's polar method.
    double normal()
    {
        if (spare_) {
            spare_ = false;
            return kept_;
        }
        double u, v, s;
        do {
            u = 2 * uniform() - 1;
            v = 2 * uniform() - 1;
            s = u * u + v * v;
        } while (s >= 1);
        const double factor = std::sqrt(-2 * log(s) / s);
        kept_ = v * factor;
        spare_ = true;
        return u * factor;
    }

    // Chi-square with `df` (a whole number) degrees of freedom: a sum of
    // squared normals for few, else twice a gamma(df / 2) variate by
    // Marsaglia and Tsang (2000).
    double chi_square(long long df)
    {
        if (df <= 32) {
            double sum = 0;
            for (long long i = 0; i < df; ++i) {
                const double z = normal();
                sum += z * z;
            }
            return sum;
        }
        const double d = static_cast<double>(df) / 2 - 1.0 / 3, c = 1 / std::sqrt(9 * d);
        for (;;) {
            const double x = normal();
            double v = 1 + c * x;
            if (v <= 0)
                continue;
            v = v * v * v;
            const double u = uniform();
            if (u < 1 - 0.0331 * x * x * x * x || log(u) < 0.5 * x * x + d * (1 - v + log(v)))
                return 2 * d * v;
        }
    }

    // The natural logarithm of a positive finite number: x = m 2^e with m in
    // [sqrt(1/2), sqrt(2)), log m = 2 atanh((m - 1) / (m + 1)) by its series.
    static double log(double x)
    {
        int e;
        double m = std::frexp(x, &e);
        if (m < 0.70710678118654752) {
            m *= 2;
            --e;
        }
        const double f = (m - 1) / (m + 1), f2 = f * f;
        double term = f, sum = 0;
        for (int n = 1; n <= 41; n += 2) {
            sum += term / n;
            term *= f2;
        }
        constexpr double ln2_high = 0x1.62e42fefa3800p-1, ln2_low = 0x1.ef35793c76730p-45;
        return 2 * sum + e * ln2_high + e * ln2_low;
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

    std::uint64_t next()
    {
        const std::uint64_t result = rotl(state_[1] * 5, 7) * 9, t = state_[1] << 17;
        state_[2] ^= state_[0];
        state_[3] ^= state_[1];
        state_[1] ^= state_[2];
        state_[0] ^= state_[3];
        state_[2] ^= t;
        state_[3] = rotl(state_[3], 45);
        return result;
    }

    std::uint64_t state_[4];
    bool spare_ = false;
    double kept_ = 0;
};

}  // namespace

namespace {

// The probability that a chi-square variable with `df` degrees of freedom
// exceeds `x`.
double chi_square_upper(double x, double df)
{
    return upper_gamma(df / 2, x / 2);
}

// The probability that a noncentral chi-square variable (`df` degrees of
// freedom, noncentrality `ncp`) is at most `x`: the Poisson mixture of
// central ones on df + 2j, summed outwards from the heaviest weight.
double noncentral_chi_square(double x, double df, double ncp)
{
    const double half = ncp / 2;
    const double mode = std::floor(half);
    auto weight = [half](double j) {
        return half > 0 ? std::exp(-half + j * std::log(half) - std::lgamma(j + 1)) : (j == 0 ? 1.0 : 0.0);
    };
    double sum = 0;
    for (double j = mode;; ++j) {
        const double w = weight(j);
        sum += w * (1 - upper_gamma(df / 2 + j, x / 2));
        if (w < 1e-18 && j > half)
            break;
    }
    for (double j = mode - 1; j >= 0; --j) {
        const double w = weight(j);
        sum += w * (1 - upper_gamma(df / 2 + j, x / 2));
        if (w < 1e-18)
            break;
    }
    return std::min(1.0, sum);
}

// One end of RMSEA's interval as psych's fa finds it: the noncentrality
// whose distribution function at the chi-square is `tail`, searched in
// [0, max(n, chi2) + 2n] (by bisection, to the rounding), as
// sqrt(ncp / ((n - 1) df)); 0 when the central distribution is already at
// or below `tail`, not a number when the search range holds no such point.
double rmsea_bound(double chi2, double df, double n, double tail)
{
    if (std::isnan(chi2))
        return chi2;
    if (!(noncentral_chi_square(chi2, df, 0) > tail))
        return 0;
    double low = 0, high = std::max(n, chi2) + 2 * n;
    if (!(noncentral_chi_square(chi2, df, high) < tail))
        return std::numeric_limits<double>::quiet_NaN();
    for (int step = 0; step < 200 && high - low > 1e-15 * high; ++step) {
        const double middle = (low + high) / 2;
        (noncentral_chi_square(chi2, df, middle) > tail ? low : high) = middle;
    }
    return std::sqrt((low + high) / 2 / ((n - 1) * df));
}

}  // namespace

SamplingAdequacy sampling_adequacy(const MatrixXd& r)
{
    const Eigen::Index p = r.rows();
    const MatrixXd q = cholesky(r, kNotPositiveDefinite).solve(MatrixXd::Identity(p, p));
    MatrixXd partial = unit_diagonal(q).array().square().matrix();
    MatrixXd squares = r.array().square().matrix();
    partial.diagonal().setZero();
    squares.diagonal().setZero();
    const VectorXd r_sums = squares.colwise().sum().transpose(), q_sums = partial.colwise().sum().transpose();
    return {r_sums.sum() / (r_sums.sum() + q_sums.sum()), r_sums.cwiseQuotient(r_sums + q_sums)};
}

ChiSquareTest sphericity(const MatrixXd& r, long long rows)
{
    const double p = static_cast<double>(r.rows());
    const double chi2 = -log_determinant(r) * (static_cast<double>(rows) - 1 - (2 * p + 5) / 6);
    const double df = p * (p - 1) / 2;
    return {chi2, df, chi_square_upper(chi2, df)};
}

ModelFit model_fit(const MatrixXd& r, long long rows, int factors, double objective)
{
    const double p = static_cast<double>(r.rows()), k = factors, n = static_cast<double>(rows);
    const double df = ((p - k) * (p - k) - p - k) / 2;
    const double multiplier = (n - 1) - (2 * p + 5) / 6 - 2 * k / 3;
    ModelFit fit;
    const double chi2 = objective * multiplier;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    fit.test = {chi2, df, df > 0 ? chi_square_upper(chi2, df) : nan};
    fit.rmsea = df > 0 ? std::sqrt(std::max(chi2 / (df * n) - 1 / (n - 1), 0.0)) : nan;
    const double null_model = -log_determinant(r) * 2 / (p * (p - 1));
    fit.tli = df > 0 ? (null_model - objective / df) / (null_model - 1 / multiplier) : nan;
    fit.bic = chi2 - df * std::log(n);
    fit.rmsea_lower = df > 0 ? rmsea_bound(chi2, df, n, 0.95) : nan;
    fit.rmsea_upper = df > 0 ? rmsea_bound(chi2, df, n, 0.05) : nan;
    fit.objective = objective;
    return fit;
}

double model_discrepancy(const MatrixXd& s, const MatrixXd& pattern, const MatrixXd& phi)
{
    MatrixXd model = pattern * phi * pattern.transpose();
    model.diagonal() = s.diagonal();
    // A model matrix that is not positive definite (a communality beyond
    // the variance) has no discrepancy: not a number, and so its indices.
    const Eigen::LLT<MatrixXd> factor(model);
    if (factor.info() != Eigen::Success)
        return std::numeric_limits<double>::quiet_NaN();
    const MatrixXd product = factor.solve(s);
    return product.trace() - (log_determinant(s) - 2 * factor.matrixLLT().diagonal().array().log().sum()) -
           static_cast<double>(s.rows());
}

ResidualFit residual_fit(const MatrixXd& s, const MatrixXd& pattern, const MatrixXd& phi)
{
    ResidualFit fit;
    fit.residuals = s - pattern * phi * pattern.transpose();
    MatrixXd off = fit.residuals;
    off.diagonal().setZero();
    const double p = static_cast<double>(s.rows());
    fit.rmsr = p > 1 ? std::sqrt(off.squaredNorm() / (p * (p - 1))) : 0;
    const MatrixXd squares = pattern.cwiseAbs2();
    fit.complexity = squares.rowwise().sum().cwiseAbs2().cwiseQuotient(squares.cwiseAbs2().rowwise().sum());
    return fit;
}

int kaiser_factors(const VectorXd& correlation_eigenvalues)
{
    return std::max(1, static_cast<int>((correlation_eigenvalues.array() >= 1.0).count()));
}

AveragePartial minimum_average_partial(const MatrixXd& r)
{
    const Eigen::Index p = r.rows();
    const Decomposition eigen = decreasing_eigen(r);
    const MatrixXd& vectors = eigen.vectors;
    const VectorXd values = eigen.values.cwiseMax(0);
    VectorXd result(std::max<Eigen::Index>(p - 1, 0));
    MatrixXd residual = r;
    for (Eigen::Index m = 0; m + 1 < p; ++m) {
        const VectorXd component = vectors.col(m) * std::sqrt(values[m]);
        residual -= component * component.transpose();
        MatrixXd partial = unit_diagonal(residual);
        partial.diagonal().setZero();
        result[m] = partial.squaredNorm() / static_cast<double>(p * (p - 1));
    }
    Eigen::Index smallest = 0;
    if (result.size() > 0)
        result.minCoeff(&smallest);
    return {result, static_cast<int>(smallest) + 1};
}

MatrixXd reduced_correlation(const MatrixXd& r)
{
    const Eigen::Index p = r.rows();
    const MatrixXd inverse = cholesky(r, kNotPositiveDefinite).solve(MatrixXd::Identity(p, p));
    MatrixXd reduced = r;
    reduced.diagonal() = VectorXd::Ones(p) - inverse.diagonal().cwiseInverse();
    return reduced;
}

ParallelAnalysis parallel_analysis(const VectorXd& observed, long long rows, int replicates, std::uint64_t seed,
                                   bool reduced, double quantile)
{
    const Eigen::Index p = observed.size();
    Generator generator(seed);
    VectorXd sum = VectorXd::Zero(p), squares = VectorXd::Zero(p);
    MatrixXd factor = MatrixXd::Zero(p, p);
    // Every replicate's eigenvalues are kept for the quantiles, the 95th
    // percentile beside the mean up to 80 MB of them.
    const bool keep = quantile > 0 || static_cast<double>(p) * replicates <= 1e7;
    MatrixXd every(keep ? p : 0, replicates);
    Progress progress("parallel analysis", replicates, false);
    for (int replicate = 0; replicate < replicates; ++replicate, progress.advance(), progress.tick()) {
        // Bartlett's decomposition of a Wishart(n - 1, I) matrix W = T T':
        // T lower triangular, T_ii^2 chi-square on n - 1 - i degrees of
        // freedom, N(0, 1) below the diagonal.
        for (Eigen::Index i = 0; i < p; ++i) {
            for (Eigen::Index j = 0; j < i; ++j)
                factor(i, j) = generator.normal();
            factor(i, i) = std::sqrt(generator.chi_square(std::max<long long>(1, rows - 1 - i)));
        }
        const MatrixXd w = factor * factor.transpose();
        const VectorXd values =
            decreasing_eigenvalues(reduced ? reduced_correlation(unit_diagonal(w)) : unit_diagonal(w));
        sum += values;
        squares += values.cwiseAbs2();
        if (keep)
            every.col(replicate) = values;
    }
    ParallelAnalysis result;
    result.observed = observed;
    const double count = replicates;
    result.mean = sum / count;
    result.spread = ((squares - sum.cwiseAbs2() / count) / std::max(1.0, count - 1)).cwiseMax(0).cwiseSqrt();
    // R's type 7: between order statistics floor(h) and floor(h) + 1 (from
    // 0) at h = (replicates - 1) q.
    const auto quantile_of = [&](double q) {
        VectorXd value(p);
        for (Eigen::Index i = 0; i < p; ++i) {
            std::vector<double> sorted(every.row(i).begin(), every.row(i).end());
            std::sort(sorted.begin(), sorted.end());
            const double h = (count - 1) * q;
            const auto low = static_cast<std::size_t>(std::floor(h));
            const std::size_t high = std::min(low + 1, sorted.size() - 1);
            value[i] = sorted[low] + (h - static_cast<double>(low)) * (sorted[high] - sorted[low]);
        }
        return value;
    };
    if (keep)
        result.upper = quantile_of(0.95);
    result.simulated = quantile > 0 ? quantile_of(quantile) : result.mean;
    while (result.factors < p && observed[result.factors] > result.simulated[result.factors])
        ++result.factors;
    return result;
}
