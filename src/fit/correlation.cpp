#include "fit/correlation.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <numeric>
#include <thread>

#include "common/parallel.h"
#include "common/progress.h"
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

// Each pair (i, j), j < i, by `work(i, j)`, spread over the threads; each
// pair computed alone, so the bits do not depend on the thread count.
template <class Work>
void for_each_pair(int p, const Work& work)
{
    std::atomic<long long> next{0};
    const long long pairs = static_cast<long long>(p) * (p - 1) / 2;
    // Drawn by this thread between its pairs; the helpers only count theirs.
    Progress progress("correlation pairs", pairs, false);
    const auto run = [&] {
        for (long long index; (index = next++) < pairs;) {
            int i = static_cast<int>((1 + std::sqrt(1.0 + 8.0 * static_cast<double>(index))) / 2);
            while (static_cast<long long>(i) * (i - 1) / 2 > index)
                --i;
            while (static_cast<long long>(i + 1) * i / 2 <= index)
                ++i;
            work(i, static_cast<int>(index - static_cast<long long>(i) * (i - 1) / 2));
            progress.advance();
            progress.tick();
        }
    };
    const int threads = static_cast<int>(std::min<long long>(thread_count(), std::max(pairs, 1LL)));
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(run);
    run();
    for (std::thread& helper : helpers)
        helper.join();
}

std::string constant(int i)
{
    return "variable " + std::to_string(i + 1) + " is constant (its standard deviation is 0)";
}

// The matrix of a type that counts tables: each pair of counted (ordinal)
// variables by its table, of one counted and one continuous by polyserial
// (psych's biserial for two categories), of two continuous by Pearson.
OrdinalCorrelation table_matrix(const Gathered& gathered, const CorrelationType& type,
                                const CorrelationSettings& settings)
{
    const CategoryTables& tables = *gathered.tables;
    const int p = tables.variables();
    OrdinalCorrelation result;
    if (gathered.moments && gathered.moments->constant_variable() >= 0)
        throw FitError(constant(gathered.moments->constant_variable()));
    // Each ordinal variable's categories in increasing order: order[i][s] is
    // the code of its s-th smallest value; slot[i] its place in result's
    // lists, or -1.
    std::vector<std::vector<int>> order(static_cast<std::size_t>(p));
    std::vector<int> slot(static_cast<std::size_t>(p), -1);
    for (int i = 0; i < p; ++i) {
        if (!tables.counted(i))
            continue;
        const std::vector<double>& values = tables.values(i);
        std::vector<int>& codes = order[static_cast<std::size_t>(i)];
        codes.resize(values.size());
        std::iota(codes.begin(), codes.end(), 0);
        std::sort(codes.begin(), codes.end(), [&](int a, int b) { return values[a] < values[b]; });
        if (codes.size() < 2)
            throw FitError(constant(i));
        std::vector<double> sorted;
        std::vector<std::int64_t> counts;
        for (const int code : codes) {
            sorted.push_back(values[code]);
            counts.push_back(tables.margin(i, code));
        }
        slot[static_cast<std::size_t>(i)] = static_cast<int>(result.ordinal.size());
        result.ordinal.push_back(i);
        result.categories.push_back(sorted);
        result.thresholds.push_back(thresholds_of(counts));
    }
    // Pairwise missing values: Pearson's correlations of each pair's rows,
    // and each variable's standard deviation over its own values.
    const PairMoments* pairs = gathered.pairs;
    Eigen::MatrixXd pearson, comoments;
    Eigen::VectorXd std;
    if (static_cast<int>(result.ordinal.size()) < p && pairs) {
        pearson = pairs->correlation();
        std = pairs->std();
    } else if (static_cast<int>(result.ordinal.size()) < p) {
        comoments = gathered.moments->comoments();
        pearson = correlation(comoments);
    }
    const auto n = static_cast<double>(tables.rows());
    result.matrix = Eigen::MatrixXd::Identity(p, p);
    for_each_pair(p, [&](int i, int j) {
        const int si = slot[static_cast<std::size_t>(i)], sj = slot[static_cast<std::size_t>(j)];
        double r = 0;
        if (si < 0 && sj < 0) {
            r = pearson(i, j);
        } else if (si < 0 || sj < 0) {
            const int x = si < 0 ? i : j, y = si < 0 ? j : i, s = std::max(si, sj);
            const auto& values = result.categories[static_cast<std::size_t>(s)];
            const auto& thresholds = result.thresholds[static_cast<std::size_t>(s)];
            if (!pairs) {
                r = polyserial(pearson(i, j), std::sqrt(comoments(y, y) / n), values, thresholds);
                // psych's biserial takes the continuous variable's sd with
                // divisor n - 1.
                if (values.size() == 2)
                    r *= std::sqrt((n - 1) / n);
            } else if (values.size() > 2) {
                // psych's polyserial of pairwise values: y's thresholds and
                // standard deviation from its own values, sqrt((N - 1) / N)
                // of every row.
                r = polyserial(pearson(i, j), std[y] * std::sqrt((n - 1) / n), values, thresholds);
            } else {
                // psych's biserial: everything from the pair's rows, y's
                // proportions too (from its mean over them).
                const auto m = static_cast<double>(pairs->count(x, y));
                const std::int64_t high = std::llround(m * (pairs->mean(y, x) - values[0]) / (values[1] - values[0]));
                const std::vector<std::int64_t> counts{static_cast<std::int64_t>(m) - high, high};
                const double q = static_cast<double>(high) / m;
                r = polyserial(pearson(i, j), (values[1] - values[0]) * std::sqrt(q * (1 - q)), values,
                               thresholds_of(counts)) *
                    std::sqrt((m - 1) / m);
            }
        } else {
            const std::vector<int>&rows = order[static_cast<std::size_t>(i)],
                  &columns = order[static_cast<std::size_t>(j)];
            const double empty = rows.size() == 2 && columns.size() == 2 ? type.empty_cell : 0;
            std::vector<double> counts;
            for (const int a : rows)
                for (const int b : columns) {
                    const auto count = static_cast<double>(tables.count(i, j, a, b));
                    counts.push_back(count > 0 ? count : empty);
                }
            r = pair_correlation(counts, result.thresholds[static_cast<std::size_t>(si)],
                                 result.thresholds[static_cast<std::size_t>(sj)]);
        }
        result.matrix(i, j) = result.matrix(j, i) = r;
    });
    result.smoothed = settle_correlation(result.matrix, type.name, settings);
    return result;
}

// Spearman's correlations of pairwise values: each pair's midranks among
// the rows where both are present (R's cor(method = "spearman", use =
// "pairwise")), pairs on every thread; smoothed as the tables' matrices.
OrdinalCorrelation pairwise_spearman(const Gathered& gathered, const CorrelationType& type,
                                     const CorrelationSettings& settings)
{
    const int p = gathered.pairs->variables();
    const std::size_t width = static_cast<std::size_t>(p), n = gathered.rows.size() / width;
    OrdinalCorrelation result;
    result.matrix = Eigen::MatrixXd::Identity(p, p);
    for_each_pair(p, [&](int i, int j) {
        std::vector<double> a, b;
        for (std::size_t row = 0; row < n; ++row)
            if (const double* values = gathered.rows.data() + row * width;
                !std::isnan(values[i]) && !std::isnan(values[j])) {
                a.push_back(values[i]);
                b.push_back(values[j]);
            }
        const std::vector<double> ra = midranks(a.data(), a.size(), 1), rb = midranks(b.data(), b.size(), 1);
        const double middle = (static_cast<double>(a.size()) + 1) / 2;
        double ab = 0, aa = 0, bb = 0;
        for (std::size_t k = 0; k < a.size(); ++k) {
            ab += (ra[k] - middle) * (rb[k] - middle);
            aa += (ra[k] - middle) * (ra[k] - middle);
            bb += (rb[k] - middle) * (rb[k] - middle);
        }
        result.matrix(i, j) = result.matrix(j, i) = ab / std::sqrt(aa * bb);
    });
    result.smoothed = settle_correlation(result.matrix, type.name, settings);
    return result;
}

// The Pearson correlations of each variable's midranks (R's cor(method =
// "spearman")): a Gram matrix, so never smoothed.
OrdinalCorrelation spearman_matrix(const Gathered& gathered, const CorrelationType& type,
                                   const CorrelationSettings& settings)
{
    if (gathered.pairs)
        return pairwise_spearman(gathered, type, settings);
    const Moments& moments = *gathered.moments;
    if (moments.constant_variable() >= 0)
        throw FitError(constant(moments.constant_variable()));
    const auto p = static_cast<std::size_t>(moments.mean().size());
    const std::size_t n = gathered.rows.size() / p;
    // The midranks of n values average (n + 1) / 2, exactly.
    Eigen::MatrixXd ranks(static_cast<Eigen::Index>(n), static_cast<Eigen::Index>(p));
    for (std::size_t i = 0; i < p; ++i)
        ranks.col(static_cast<Eigen::Index>(i)) =
            Eigen::Map<const Eigen::VectorXd>(midranks(gathered.rows.data() + i, n, p).data(),
                                              static_cast<Eigen::Index>(n))
                .array() -
            (static_cast<double>(n) + 1) / 2;
    OrdinalCorrelation result;
    result.matrix = correlation(ranks.transpose() * ranks);
    return result;
}

constexpr CorrelationType kTypes[] = {
    {"pearson", "correlation", 0, 0, false, false, nullptr},
    {"polychoric", "polychoric correlation", 8, 0, false, false, table_matrix},
    {"tetrachoric", "tetrachoric correlation", 2, 0.5, false, false, table_matrix},
    {"mixed", "mixed correlation", 8, 0.5, true, false, table_matrix},
    {"spearman", "Spearman correlation", 0, 0, false, true, spearman_matrix},
};

}  // namespace

CategoryTables::CategoryTables(int variables, int max_categories, std::vector<Kind> kinds)
    : variables_(variables),
      max_(max_categories),
      values_(static_cast<std::size_t>(variables)),
      cells_(static_cast<std::size_t>(variables) * static_cast<std::size_t>(std::max(variables - 1, 0)) / 2 *
             static_cast<std::size_t>(max_categories * max_categories)),
      margins_(static_cast<std::size_t>(variables) * static_cast<std::size_t>(max_categories)),
      codes_(static_cast<std::size_t>(variables)),
      kinds_(kinds.empty() ? std::vector<Kind>(static_cast<std::size_t>(variables), Kind::kOrdinal) : std::move(kinds))
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
        std::vector<double>& values = values_[static_cast<std::size_t>(i)];
        const auto found = std::find(values.begin(), values.end(), value);
        Kind& kind = kinds_[static_cast<std::size_t>(i)];
        const Refusal why = value != std::floor(value)                                         ? Refusal::kFraction
                            : found == values.end() && static_cast<int>(values.size()) == max_ ? Refusal::kTooMany
                                                                                               : Refusal::kNone;
        // A continuous variable's cells are not read: its code is 0.
        if (why != Refusal::kNone && kind == Kind::kDetect)
            kind = Kind::kContinuous;
        if (kind == Kind::kContinuous) {
            codes_[static_cast<std::size_t>(i)] = 0;
            continue;
        }
        if (why != Refusal::kNone)
            return {why, i};
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
        Kind& kind = kinds_[static_cast<std::size_t>(i)];
        if (later.kinds_[static_cast<std::size_t>(i)] == Kind::kContinuous)
            kind = Kind::kContinuous;
        for (const double value : later.values_[static_cast<std::size_t>(i)]) {
            if (kind == Kind::kContinuous)
                break;
            const auto found = std::find(values.begin(), values.end(), value);
            if (found == values.end() && static_cast<int>(values.size()) == max_ && kind == Kind::kDetect) {
                kind = Kind::kContinuous;
                map[static_cast<std::size_t>(i)].clear();
                break;
            }
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

int table_categories(const CorrelationType& type, const CorrelationSettings& settings)
{
    return type.detects && settings.max_categories ? settings.max_categories : type.categories;
}

double polyserial(double r, double sd, std::span<const double> values, std::span<const double> thresholds)
{
    double density = 0;
    for (std::size_t k = 0; k < thresholds.size(); ++k)
        density += std::exp(-thresholds[k] * thresholds[k] / 2) / std::sqrt(2 * kPi) * (values[k + 1] - values[k]);
    return std::clamp(r * sd / density, -1.0, 1.0);
}

std::vector<double> midranks(const double* values, std::size_t count, std::size_t stride)
{
    std::vector<std::size_t> order(count);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return values[a * stride] < values[b * stride]; });
    std::vector<double> ranks(count);
    for (std::size_t first = 0, last; first < count; first = last) {
        last = first + 1;
        while (last < count && values[order[last] * stride] == values[order[first] * stride])
            ++last;
        // Ranks first + 1 .. last share their mean.
        const double rank = (static_cast<double>(first + 1) + static_cast<double>(last)) / 2;
        for (std::size_t k = first; k < last; ++k)
            ranks[order[k]] = rank;
    }
    return ranks;
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
