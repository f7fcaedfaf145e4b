#include "fit/correlation.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <numeric>
#include <thread>

#include "common/parallel.h"
#include "fit/linear_algebra.h"
#include "fit/method_table.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

double normal_cdf(double x)
{
    return 0.5 * std::erfc(-x / std::sqrt(2.0));
}

// The abscissae in (-1, 0) and weights of the 6, 12 and 20 point
// Gauss-Legendre rules (each rule symmetric about 0).
constexpr double kNodes[3][10] = {{-0.9324695142031522, -0.6612093864662647, -0.2386191860831970},
                                  {-0.9815606342467191, -0.9041172563704750, -0.7699026741943050, -0.5873179542866171,
                                   -0.3678314989981802, -0.1252334085114692},
                                  {-0.9931285991850949, -0.9639719272779138, -0.9122344282513259, -0.8391169718222188,
                                   -0.7463319064601508, -0.6360536807265150, -0.5108670019508271, -0.3737060887154196,
                                   -0.2277858511416451, -0.07652652113349733}};
constexpr double kWeights[3][10] = {{0.1713244923791705, 0.3607615730481384, 0.4679139345726904},
                                    {0.04717533638651177, 0.1069393259953183, 0.1600783285433464, 0.2031674267230659,
                                     0.2334925365383547, 0.2491470458134029},
                                    {0.01761400713915212, 0.04060142980038694, 0.06267204833410906, 0.08327674157670475,
                                     0.1019301198172404, 0.1181945319615184, 0.1316886384491766, 0.1420961093183821,
                                     0.1491729864726037, 0.1527533871307259}};

// P(X > h, Y > k) for correlation r (Drezner and Wesolowsky's integral as
// Genz evaluates it): for |r| < 0.925 Gauss-Legendre on Plackett's formula
// over asin r, more points for larger |r|; above that the integral about
// r = +-1, whose leading terms are taken in closed form.
double upper_orthant(double h, double k, double r)
{
    const int rule = std::abs(r) < 0.3 ? 0 : std::abs(r) < 0.75 ? 1 : 2;
    const int points = rule == 0 ? 3 : rule == 1 ? 6 : 10;
    const double* x = kNodes[rule];
    const double* w = kWeights[rule];
    double hk = h * k, sum = 0;
    if (std::abs(r) < 0.925) {
        const double hs = (h * h + k * k) / 2, asr = std::asin(r);
        for (int i = 0; i < points; ++i)
            for (const double side : {x[i], -x[i]}) {
                const double sn = std::sin(asr * (side + 1) / 2);
                sum += w[i] * std::exp((sn * hk - hs) / (1 - sn * sn));
            }
        return sum * asr / (4 * kPi) + normal_cdf(-h) * normal_cdf(-k);
    }
    if (r < 0) {
        k = -k;
        hk = -hk;
    }
    if (std::abs(r) < 1) {
        const double as = (1 - r) * (1 + r), bs = (h - k) * (h - k);
        double a = std::sqrt(as);
        const double c = (4 - hk) / 8, d = (12 - hk) / 16;
        sum = a * std::exp(-(bs / as + hk) / 2) * (1 - c * (bs - as) * (1 - d * bs / 5) / 3 + c * d * as * as / 5);
        if (hk > -160) {
            const double b = std::sqrt(bs);
            sum -=
                std::exp(-hk / 2) * std::sqrt(2 * kPi) * normal_cdf(-b / a) * b * (1 - c * bs * (1 - d * bs / 5) / 3);
        }
        a /= 2;
        for (int i = 0; i < points; ++i)
            for (const double side : {x[i], -x[i]}) {
                const double xs = a * (side + 1) * a * (side + 1), rs = std::sqrt(1 - xs);
                const double asr = -(bs / xs + hk) / 2;
                if (asr > -100)
                    sum += a * w[i] * std::exp(asr) *
                           (std::exp(-hk * xs / (2 * (1 + rs) * (1 + rs))) / rs - (1 + c * xs * (1 + d * xs)));
            }
        sum = -sum / (2 * kPi);
    }
    if (r > 0)
        return sum + normal_cdf(-std::max(h, k));
    return -sum + std::max(0.0, normal_cdf(-h) - normal_cdf(-k));
}

// One pair's table and thresholds, and the likelihood's scratch.
struct PairData {
    std::span<const double> counts;
    std::span<const double> row_cuts, column_cuts;  // thresholds
    std::vector<double> row_cdf, column_cdf;        // normal_cdf of each
    mutable std::vector<double> cumulative;         // (rows + 1) x (columns + 1)
};

// Minus the log likelihood of the table at correlation r: each cell's count
// times the log of its rectangle's probability. Cells of no count add
// nothing, as do those whose probability is not above 0 (at |r| near 1).
double minus_log_likelihood(double r, const void* data)
{
    const PairData& pair = *static_cast<const PairData*>(data);
    const auto rows = pair.row_cuts.size() + 1, columns = pair.column_cuts.size() + 1;
    const std::size_t width = columns + 1;
    std::vector<double>& f = pair.cumulative;
    f.assign((rows + 1) * width, 0.0);
    for (std::size_t i = 1; i <= rows; ++i)
        for (std::size_t j = 1; j <= columns; ++j)
            f[i * width + j] = i == rows && j == columns ? 1.0
                               : i == rows               ? pair.column_cdf[j - 1]
                               : j == columns            ? pair.row_cdf[i - 1]
                                              : bivariate_normal(pair.row_cuts[i - 1], pair.column_cuts[j - 1], r);
    double sum = 0;
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t j = 0; j < columns; ++j) {
            const double n = pair.counts[i * columns + j];
            const double p =
                f[(i + 1) * width + j + 1] - f[i * width + j + 1] - f[(i + 1) * width + j] + f[i * width + j];
            if (n > 0 && p > 0)
                sum -= n * std::log(p);
        }
    return sum;
}

// The thresholds of a variable from its category counts: qnorm of the
// cumulative proportions below each category boundary.
std::vector<double> thresholds_of(const std::vector<std::int64_t>& counts)
{
    const double total = static_cast<double>(std::accumulate(counts.begin(), counts.end(), std::int64_t{0}));
    std::vector<double> cuts;
    std::int64_t below = 0;
    for (std::size_t c = 0; c + 1 < counts.size(); ++c) {
        below += counts[c];
        cuts.push_back(normal_quantile(static_cast<double>(below) / total));
    }
    return cuts;
}

OrdinalCorrelation ordinal_matrix(const CategoryTables& tables, const CorrelationType& type,
                                  const CorrelationSettings& settings)
{
    const int p = tables.variables();
    OrdinalCorrelation result;
    // Each variable's categories in increasing order: order[i][s] is the
    // code of its s-th smallest value.
    std::vector<std::vector<int>> order(static_cast<std::size_t>(p));
    for (int i = 0; i < p; ++i) {
        const std::vector<double>& values = tables.values(i);
        std::vector<int>& codes = order[static_cast<std::size_t>(i)];
        codes.resize(values.size());
        std::iota(codes.begin(), codes.end(), 0);
        std::sort(codes.begin(), codes.end(), [&](int a, int b) { return values[a] < values[b]; });
        if (codes.size() < 2)
            throw FitError("variable " + std::to_string(i + 1) + " is constant (its standard deviation is 0)");
        std::vector<double> sorted;
        std::vector<std::int64_t> counts;
        for (const int code : codes) {
            sorted.push_back(values[code]);
            counts.push_back(tables.margin(i, code));
        }
        result.categories.push_back(sorted);
        result.thresholds.push_back(thresholds_of(counts));
    }
    result.matrix = Eigen::MatrixXd::Identity(p, p);
    // The pairs' maximizations dominate: spread over the threads, each pair
    // computed alone, so the bits do not depend on the thread count.
    std::atomic<long long> next{0};
    const long long pairs = static_cast<long long>(p) * (p - 1) / 2;
    const auto work = [&] {
        std::vector<double> counts;
        for (long long index; (index = next++) < pairs;) {
            int i = static_cast<int>((1 + std::sqrt(1.0 + 8.0 * static_cast<double>(index))) / 2);
            while (static_cast<long long>(i) * (i - 1) / 2 > index)
                --i;
            while (static_cast<long long>(i + 1) * i / 2 <= index)
                ++i;
            const int j = static_cast<int>(index - static_cast<long long>(i) * (i - 1) / 2);
            const std::vector<int>&rows = order[static_cast<std::size_t>(i)],
                  &columns = order[static_cast<std::size_t>(j)];
            counts.clear();
            for (const int a : rows)
                for (const int b : columns) {
                    const auto n = static_cast<double>(tables.count(i, j, a, b));
                    counts.push_back(n > 0 ? n : type.empty_cell);
                }
            const double r = pair_correlation(counts, result.thresholds[static_cast<std::size_t>(i)],
                                              result.thresholds[static_cast<std::size_t>(j)]);
            result.matrix(i, j) = result.matrix(j, i) = r;
        }
    };
    const int threads = static_cast<int>(std::min<long long>(thread_count(), std::max(pairs, 1LL)));
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    result.smoothed = settle_correlation(result.matrix, type.name, settings);
    return result;
}

constexpr CorrelationType kTypes[] = {
    {"pearson", "correlation", 0, 0, nullptr},
    {"polychoric", "polychoric correlation", 8, 0, ordinal_matrix},
    {"tetrachoric", "tetrachoric correlation", 2, 0.5, ordinal_matrix},
};

}  // namespace

CategoryTables::CategoryTables(int variables, int max_categories)
    : variables_(variables),
      max_(max_categories),
      values_(static_cast<std::size_t>(variables)),
      cells_(static_cast<std::size_t>(variables) * static_cast<std::size_t>(std::max(variables - 1, 0)) / 2 *
             static_cast<std::size_t>(max_categories * max_categories)),
      margins_(static_cast<std::size_t>(variables) * static_cast<std::size_t>(max_categories)),
      codes_(static_cast<std::size_t>(variables))
{
}

std::size_t CategoryTables::pair_offset(int i, int j) const
{
    return (static_cast<std::size_t>(i) * static_cast<std::size_t>(i - 1) / 2 + static_cast<std::size_t>(j)) *
           static_cast<std::size_t>(max_ * max_);
}

std::int64_t CategoryTables::count(int i, int j, int a, int b) const
{
    if (i < j) {
        std::swap(i, j);
        std::swap(a, b);
    }
    return cells_[pair_offset(i, j) + static_cast<std::size_t>(a * max_ + b)];
}

CategoryTables::Refused CategoryTables::add(const double* row)
{
    for (int i = 0; i < variables_; ++i) {
        const double value = row[i];
        // A missing value (pairwise): no category, in no table.
        if (std::isnan(value)) {
            codes_[static_cast<std::size_t>(i)] = -1;
            continue;
        }
        if (value != std::floor(value))
            return {Refusal::kFraction, i};
        std::vector<double>& values = values_[static_cast<std::size_t>(i)];
        const auto found = std::find(values.begin(), values.end(), value);
        if (found == values.end() && static_cast<int>(values.size()) == max_)
            return {Refusal::kTooMany, i};
        codes_[static_cast<std::size_t>(i)] = static_cast<int>(found - values.begin());
        if (found == values.end())
            values.push_back(value);
    }
    ++rows_;
    if (codes_[0] >= 0)
        ++margins_[static_cast<std::size_t>(codes_[0])];
    for (int i = 1; i < variables_; ++i) {
        const int a = codes_[static_cast<std::size_t>(i)];
        if (a < 0)
            continue;
        ++margins_[static_cast<std::size_t>(i * max_ + a)];
        std::int64_t* cells = table(i, 0) + a * max_;
        for (int j = 0; j < i; ++j, cells += max_ * max_)
            if (const int b = codes_[static_cast<std::size_t>(j)]; b >= 0)
                ++cells[b];
    }
    return {};
}

CategoryTables::Refused CategoryTables::merge(const CategoryTables& later)
{
    // Each of the later rows' codes as a code of these rows.
    std::vector<std::vector<int>> map(static_cast<std::size_t>(variables_));
    for (int i = 0; i < variables_; ++i) {
        std::vector<double>& values = values_[static_cast<std::size_t>(i)];
        for (const double value : later.values_[static_cast<std::size_t>(i)]) {
            const auto found = std::find(values.begin(), values.end(), value);
            if (found == values.end() && static_cast<int>(values.size()) == max_)
                return {Refusal::kTooMany, i};
            map[static_cast<std::size_t>(i)].push_back(static_cast<int>(found - values.begin()));
            if (found == values.end())
                values.push_back(value);
        }
    }
    rows_ += later.rows_;
    for (int i = 0; i < variables_; ++i) {
        const std::vector<int>& rows = map[static_cast<std::size_t>(i)];
        for (std::size_t a = 0; a < rows.size(); ++a)
            margins_[static_cast<std::size_t>(i * max_ + rows[a])] +=
                later.margins_[static_cast<std::size_t>(i) * max_ + a];
        for (int j = 0; j < i; ++j) {
            const std::vector<int>& columns = map[static_cast<std::size_t>(j)];
            std::int64_t* to = table(i, j);
            const std::int64_t* from = later.cells_.data() + pair_offset(i, j);
            for (std::size_t a = 0; a < rows.size(); ++a)
                for (std::size_t b = 0; b < columns.size(); ++b)
                    to[rows[a] * max_ + columns[b]] += from[a * static_cast<std::size_t>(max_) + b];
        }
    }
    return {};
}

void CategoryTables::reset()
{
    rows_ = 0;
    for (std::vector<double>& values : values_)
        values.clear();
    std::fill(cells_.begin(), cells_.end(), 0);
    std::fill(margins_.begin(), margins_.end(), 0);
}

const CorrelationType* find_correlation(std::string_view name)
{
    return find_named(std::span<const CorrelationType>(kTypes), name);
}

std::span<const CorrelationType> correlation_types()
{
    return kTypes;
}

double normal_quantile(double p)
{
    if (!(p > 0 && p < 1))
        return p == 0 ? -INFINITY : p == 1 ? INFINITY : NAN;
    const double q = p - 0.5;
    if (std::abs(q) <= 0.425) {
        const double r = 0.180625 - q * q;
        return q *
               (((((((2.5090809287301226727e+3 * r + 3.3430575583588128105e+4) * r + 6.7265770927008700853e+4) * r +
                    4.5921953931549871457e+4) *
                       r +
                   1.3731693765509461125e+4) *
                      r +
                  1.9715909503065514427e+3) *
                     r +
                 1.3314166789178437745e+2) *
                    r +
                3.3871328727963666080e+0) /
               (((((((5.2264952788528545610e+3 * r + 2.8729085735721942674e+4) * r + 3.9307895800092710610e+4) * r +
                    2.1213794301586595867e+4) *
                       r +
                   5.3941960214247511077e+3) *
                      r +
                  6.8718700749205790830e+2) *
                     r +
                 4.2313330701600911252e+1) *
                    r +
                1.0);
    }
    double r = std::sqrt(-std::log(q < 0 ? p : 1 - p)), value;
    if (r <= 5) {
        r -= 1.6;
        value = (((((((7.74545014278341407640e-4 * r + 2.27238449892691845833e-2) * r + 2.41780725177450611770e-1) * r +
                     1.27045825245236838258e+0) *
                        r +
                    3.64784832476320460504e+0) *
                       r +
                   5.76949722146069140550e+0) *
                      r +
                  4.63033784615654529590e+0) *
                     r +
                 1.42343711074968357734e+0) /
                (((((((1.05075007164441684324e-9 * r + 5.47593808499534494600e-4) * r + 1.51986665636164571966e-2) * r +
                     1.48103976427480074590e-1) *
                        r +
                    6.89767334985100004550e-1) *
                       r +
                   1.67638483018380384940e+0) *
                      r +
                  2.05319162663775882187e+0) *
                     r +
                 1.0);
    } else {
        r -= 5;
        value =
            (((((((2.01033439929228813265e-7 * r + 2.71155556874348757815e-5) * r + 1.24266094738807843860e-3) * r +
                 2.65321895265761230930e-2) *
                    r +
                2.96560571828504891230e-1) *
                   r +
               1.78482653991729133580e+0) *
                  r +
              5.46378491116411436990e+0) *
                 r +
             6.65790464350110377720e+0) /
            (((((((2.04426310338993978564e-15 * r + 1.42151175831644588870e-7) * r + 1.84631831751005468180e-5) * r +
                 7.86869131145613259100e-4) *
                    r +
                1.48753612908506148525e-2) *
                   r +
               1.36929880922735805310e-1) *
                  r +
              5.99832206555887937690e-1) *
                 r +
             1.0);
    }
    return q < 0 ? -value : value;
}

double bivariate_normal(double a, double b, double r)
{
    return upper_orthant(-a, -b, r);
}

double brent_minimum(double low, double high, double tol, double (*f)(double, const void*), const void* data)
{
    // Brent's method: parabolic steps through the best three points while
    // they shrink fast enough, golden-section steps otherwise.
    const double golden = (3 - std::sqrt(5.0)) / 2, eps = std::sqrt(DBL_EPSILON), tol3 = tol / 3;
    double a = low, b = high;
    double x = a + golden * (b - a), w = x, v = x, d = 0, e = 0;
    double fx = f(x, data), fw = fx, fv = fx;
    for (;;) {
        const double middle = (a + b) / 2, tol1 = eps * std::abs(x) + tol3, t2 = 2 * tol1;
        if (std::abs(x - middle) <= t2 - (b - a) / 2)
            return x;
        double p = 0, q = 0, r = 0;
        if (std::abs(e) > tol1) {
            r = (x - w) * (fx - fv);
            q = (x - v) * (fx - fw);
            p = (x - v) * q - (x - w) * r;
            q = (q - r) * 2;
            if (q > 0)
                p = -p;
            else
                q = -q;
            r = e;
            e = d;
        }
        if (std::abs(p) >= std::abs(q * 0.5 * r) || p <= q * (a - x) || p >= q * (b - x)) {
            e = x < middle ? b - x : a - x;
            d = golden * e;
        } else {
            d = p / q;
            const double u = x + d;
            if (u - a < t2 || b - u < t2)
                d = x >= middle ? -tol1 : tol1;
        }
        const double u = std::abs(d) >= tol1 ? x + d : d > 0 ? x + tol1 : x - tol1;
        const double fu = f(u, data);
        if (fu <= fx) {
            (u < x ? b : a) = x;
            v = w;
            fv = fw;
            w = x;
            fw = fx;
            x = u;
            fx = fu;
        } else {
            (u < x ? a : b) = u;
            if (fu <= fw || w == x) {
                v = w;
                fv = fw;
                w = u;
                fw = fu;
            } else if (fu <= fv || v == x || v == w) {
                v = u;
                fv = fu;
            }
        }
    }
}

double pair_correlation(std::span<const double> counts, std::span<const double> row_thresholds,
                        std::span<const double> column_thresholds)
{
    PairData pair{counts, row_thresholds, column_thresholds, {}, {}, {}};
    for (const double cut : row_thresholds)
        pair.row_cdf.push_back(normal_cdf(cut));
    for (const double cut : column_thresholds)
        pair.column_cdf.push_back(normal_cdf(cut));
    return brent_minimum(-1, 1, 1e-12, minus_log_likelihood, &pair);
}

bool settle_correlation(Eigen::MatrixXd& matrix, const char* name, const CorrelationSettings& settings)
{
    const double least = decreasing_eigenvalues(matrix)[matrix.rows() - 1];
    if (!settings.smooth && least < DBL_EPSILON) {
        char text[200];
        std::snprintf(text, sizeof text,
                      "the %s correlation matrix is not positive definite (smallest eigenvalue %.3g); leave out "
                      "--no-smooth to smooth it",
                      name, least);
        throw FitError(text);
    }
    return settings.smooth && smooth_correlation(matrix);
}

bool smooth_correlation(Eigen::MatrixXd& matrix)
{
    Decomposition eigen = decreasing_eigen(matrix);
    const auto n = static_cast<double>(matrix.rows());
    if (!(eigen.values.minCoeff() < DBL_EPSILON))
        return false;
    for (double& value : eigen.values)
        if (value < 1e-12)
            value = 1e-10;
    eigen.values *= n / eigen.values.sum();
    matrix = correlation(eigen.vectors * eigen.values.asDiagonal() * eigen.vectors.transpose());
    return true;
}
