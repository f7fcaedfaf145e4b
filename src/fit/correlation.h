// The correlation types of scorix-fit (--cor), one entry each in one table:
// what a type needs from the streamed pass over the rows, and how it makes
// that into the p x p matrix the fit analyses.
//
//   name         gathered in the one pass         made into the matrix by
//   pearson      co-moments (Moments)             the co-moments scaled to a unit diagonal (analyse)
//   polychoric   contingency tables               two steps: each variable's thresholds from its
//                (CategoryTables)                 margin, then each pair's correlation by maximum
//                                                 likelihood of its table given those thresholds
//   tetrachoric  the same tables, two categories  the same, the 2 x 2 case, an empty cell counted 0.5
//   mixed        the tables of the ordinal         each pair by its kinds: two continuous, Pearson;
//                variables, co-moments             one ordinal, polyserial; two ordinal, polychoric
//                                                  (tetrachoric when both have two categories)
//   spearman     every row (8 bytes a value)      the Pearson correlations of the midranks
//
// Every type also gathers the co-moments: the means and standard deviations
// of the raw variables go in the coefficient file, which scorix applies to
// raw rows. Each block of rows is counted on any thread; tables are counts,
// so merging them in file order is exact and the result has the same bits
// for every thread count. Categories are the distinct values of each
// variable, learnt in the same pass (standard input cannot be read twice).
//
// Ranks (spearman) need all of a variable's values at once: that type alone
// keeps the rows used in memory, 8 bytes a value. For mixed, a variable is
// ordinal when --ordinal names it or, without it, when its values are whole
// numbers of at most --max-categories distinct values; the tables stop
// counting a variable found to be continuous (a fraction, or one category
// too many), so the one pass decides and memory does not grow with the
// rows. Missing values: listwise, the tables count the rows used; pairwise,
// a missing value (NaN) is in no table, so each pair's table counts the rows
// where both are present and each margin its variable's own present values;
// Pearson's correlations come from each pair's moments (PairMoments) and
// Spearman's rank each pair's rows where both are present.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <Eigen/Core>

#include "fit/fit_error.h"
#include "fit/moments.h"
#include "fit/pairwise.h"

// The contingency tables of every pair of variables, and each variable's
// categories: its distinct values, whole numbers, coded in the order they
// first appear. A table is max_categories x max_categories counts, row by
// the first variable's code.
class CategoryTables {
public:
    // What a variable is: ordinal (a fraction or too many categories is
    // refused), ordinal until found continuous (kDetect), or continuous (not
    // counted).
    enum class Kind : char { kOrdinal, kDetect, kContinuous };
    // `kinds` empty: every variable ordinal.
    CategoryTables(int variables, int max_categories, std::vector<Kind> kinds = {});

    // Counts a row, a missing value (NaN) in no table. Returns -1, or the
    // ordinal variable (from 0) whose value is not a whole number
    // (kFraction) or is one category too many (kTooMany); the row is then
    // not counted.
    enum class Refusal { kNone, kFraction, kTooMany };
    struct Refused {
        Refusal why = Refusal::kNone;
        int variable = -1;
    };
    Refused add(const double* row);
    // Adds the counts of the rows that follow these ones; refuses (and adds
    // nothing) when a variable would have too many categories.
    Refused merge(const CategoryTables& later);
    void reset();

    int variables() const { return variables_; }
    int max_categories() const { return max_; }
    // Whether variable i is counted (not continuous).
    bool counted(int i) const { return kinds_[static_cast<std::size_t>(i)] != Kind::kContinuous; }
    std::int64_t rows() const { return rows_; }
    // The categories of variable i, in the order of their codes.
    const std::vector<double>& values(int i) const { return values_[static_cast<std::size_t>(i)]; }
    // The count of codes (a, b) of variables i and j, i != j.
    std::int64_t count(int i, int j, int a, int b) const;
    // The count of code a of variable i.
    std::int64_t margin(int i, int a) const { return margins_[static_cast<std::size_t>(i * max_ + a)]; }

private:
    friend struct MomentCodec;  // moment files keep the state as it is
    std::int64_t* table(int i, int j) { return cells_.data() + pair_offset(i, j); }
    std::size_t pair_offset(int i, int j) const;  // i > j

    int variables_, max_;
    std::int64_t rows_ = 0;
    std::vector<std::vector<double>> values_;
    std::vector<std::int64_t> cells_;  // the pairs (i, j), j < i, row by row
    std::vector<std::int64_t> margins_;
    std::vector<int> codes_;  // scratch of add()
    std::vector<Kind> kinds_;
};

// A matrix of a type other than pearson and what it came from.
struct OrdinalCorrelation {
    Eigen::MatrixXd matrix;
    std::vector<int> ordinal;                     // the ordinal variables (from 0), of these categories
    std::vector<std::vector<double>> categories;  // each one's values, increasing
    std::vector<std::vector<double>> thresholds;  // between them: qnorm of the cumulative proportions
    bool smoothed = false;                        // not positive definite, smoothed
};

struct CorrelationSettings {
    bool smooth = true;                  // --no-smooth: refuse a matrix that is not positive definite
    int max_categories = 0;              // --max-categories of a variable mixed takes as ordinal; 0: 8
    std::optional<std::string> ordinal;  // --ordinal: the variables mixed takes as ordinal
};

// What the pass over the rows gathered for a type's matrix.
struct Gathered {
    const CategoryTables* tables = nullptr;  // a type that counts them
    const Moments* moments = nullptr;
    std::span<const double> rows;  // a type that keeps them: every row used, one after another
    // Pairwise missing values: each pair's moments over the rows where both
    // are present (and no `moments`); a missing value is NaN in `rows`.
    const PairMoments* pairs = nullptr;
};

struct CorrelationType {
    const char* name;  // as --cor names it
    const char* description;
    // 0: co-moments alone; otherwise the tables, each variable with at most
    // this many categories.
    int categories;
    double empty_cell;  // the count an empty cell of a 2 x 2 table takes
    bool detects;       // a variable is ordinal or continuous (mixed): at most --max-categories
    bool keeps_rows;    // the rows are kept (spearman)
    // The matrix (nullptr: the co-moments' own). Throws FitError for a
    // constant variable, or a matrix that is not positive definite under
    // --no-smooth.
    OrdinalCorrelation (*matrix)(const Gathered& gathered, const CorrelationType& type,
                                 const CorrelationSettings& settings);
};

// The most categories a variable of `type` may have in the tables.
int table_categories(const CorrelationType& type, const CorrelationSettings& settings);

const CorrelationType* find_correlation(std::string_view name);
std::span<const CorrelationType> correlation_types();

// Pieces of the two-step estimate, for the tests.

// The standard normal quantile (Wichura's AS 241, about 1e-16 relative).
double normal_quantile(double p);
// P(X < a, Y < b) of the standard bivariate normal with correlation r
// (Genz's method for the bivariate case, about 1e-15 absolute).
double bivariate_normal(double a, double b, double r);
// The minimum of f on (low, high), Brent's method to tolerance tol.
double brent_minimum(double low, double high, double tol, double (*f)(double, const void*), const void* data);

// One pair's correlation by maximum likelihood of its `counts` (rows by
// columns, row by row) given the variables' thresholds: Brent's method on
// (-1, 1) to 1e-12.
double pair_correlation(std::span<const double> counts, std::span<const double> row_thresholds,
                        std::span<const double> column_thresholds);

// The two-step polyserial correlation (Olsson, Drasgow and Dorans' ad hoc
// estimator) of a continuous variable and an ordinal one, from the Pearson
// r of the two, the ordinal variable's standard deviation (divisor n), its
// values (increasing) and thresholds: r sd / sum phi(tau_k) (v_k+1 - v_k),
// within [-1, 1].
double polyserial(double r, double sd, std::span<const double> values, std::span<const double> thresholds);

// The midranks of `count` values `stride` apart (ties take the mean of
// their ranks, from 1).
std::vector<double> midranks(const double* values, std::size_t count, std::size_t stride);

// A matrix smoothed when not positive definite (an eigenvalue below the
// machine epsilon): eigenvalues below 1e-12 raised to 1e-10, all rescaled
// to sum to the order, and the result scaled to a unit diagonal. Returns
// whether it was smoothed.
bool smooth_correlation(Eigen::MatrixXd& matrix);

// A correlation matrix that is not positive definite, smoothed; or, with
// --no-smooth, refused (FitError naming the `name` of its type and its
// smallest eigenvalue). Returns whether it was smoothed.
bool settle_correlation(Eigen::MatrixXd& matrix, const char* name, const CorrelationSettings& settings);
