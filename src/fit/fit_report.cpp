#include "fit/fit_report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <numeric>

#include "read/table_format.h"
#include "write/invocation_log.h"

namespace {

std::string factor_method(const FactorReport& factors, bool covariance);  // below

// Appends printf-style to `text`.
__attribute__((format(printf, 2, 3))) void append(std::string& text, const char* format, ...)
{
    char buffer[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    text.append(buffer, static_cast<std::size_t>(length) < sizeof buffer ? length : sizeof buffer - 1);
}

// One line of numbers, each with 17 significant digits ("%.17g"), so they
// load exactly. to_chars writes them three times as fast as snprintf, which
// counts for the 500,000 numbers of 500 variables.
template <class Row>
void append_row(std::string& text, const Row& row)
{
    char number[32];
    for (Eigen::Index i = 0; i < row.size(); ++i) {
        if (i)
            text += ' ';
        text.append(number, std::to_chars(number, number + sizeof number, row[i], std::chars_format::general, 17).ptr);
    }
    text += '\n';
}

const char* matrix_name(bool covariance)
{
    return covariance ? "covariance" : "correlation";
}

}  // namespace

std::string ordinal_note(const FitSource& source)
{
    const OrdinalCorrelation& made = *source.ordinal;
    if (source.cor->keeps_rows)
        return std::string(source.cor->name) + " correlations (Pearson correlations of the midranks)";
    std::string text = std::string(source.cor->name) + " correlations (";
    if (source.cor->detects) {
        text += "ordinal:";
        for (const int i : made.ordinal)
            text += ' ' + (source.names.empty() ? std::to_string(i + 1)
                                                : quoted_name(source.names[static_cast<std::size_t>(i)]));
        text += made.ordinal.empty() ? " none; " : "; ";
        text += "two continuous: Pearson, one: polyserial, none: polychoric; ";
    }
    return text + "thresholds from each variable's margin, each pair by maximum likelihood)" +
           (made.smoothed ? "; not positive definite: smoothed" : "");
}

std::string pairs_note(const FitSource& source)
{
    const PairCounts& pairs = *source.pairs;
    const auto name = [&](int i) {
        return source.names.empty() ? std::to_string(i + 1) : source.names[static_cast<std::size_t>(i)];
    };
    return "pairwise missing values: each pair from the rows where both are present; smallest pair count " +
           std::to_string(pairs.smallest) + " (variables " + name(pairs.first) + " and " + name(pairs.second) + ")" +
           (pairs.smoothed ? "; not positive definite: smoothed" : "");
}

std::string method_description(const Fit& result, bool covariance, const FactorReport* factors)
{
    if (factors && factors->in_coefficients)
        return factor_method(*factors, covariance);
    std::string text;
    if (result.rotated == 0) {
        append(text, "principal components of the %s matrix", matrix_name(covariance));
        return text;
    }
    const auto n = static_cast<int>(result.eigenvalues.size());
    append(text,
           "varimax rotation (Kaiser normalized, iterations: %d) of %d of the %d principal components of the %s matrix",
           result.iterations, result.rotated, n, matrix_name(covariance));
    if (result.rotated < n)
        append(text, "; scores %d to %d are unrotated components", result.rotated + 1, n);
    return text;
}

namespace {

// The comment lines every fit has: the communalities and uniquenesses of
// its factors, the sampling adequacy, the sphericity test and, for maximum
// likelihood, the fit (the other methods' is in the JSON report).
void append_adequacy_comments(std::string& text, const FactorReport& factors)
{
    const FactorSolution& f = factors.solution;
    text += "# communalities and uniquenesses (variable, communality, uniqueness):\n";
    for (Eigen::Index i = 0; i < f.communalities.size(); ++i)
        append(text, "# communality %d %.17g %.17g\n", static_cast<int>(i + 1), f.communalities[i], f.uniquenesses[i]);
    append(text, "# kmo %.17g\n# sphericity chi2 %.17g df %.17g p %.17g\n", factors.kmo.overall,
           factors.sphericity.chi2, factors.sphericity.df, factors.sphericity.p);
    if (factors.fit && factors.settings.method->chi_square == ChiSquareSource::likelihood)
        append(text, "# fit chi2 %.17g df %.17g p %.17g rmsea %.17g tli %.17g bic %.17g\n", factors.fit->test.chi2,
               factors.fit->test.df, factors.fit->test.p, factors.fit->rmsea, factors.fit->tli, factors.fit->bic);
}

// The comment lines of a factor model: variances, pattern, factor
// correlations, then those of every fit.
void append_factor_comments(std::string& text, const FactorReport& factors, double total)
{
    const FactorSolution& f = factors.solution;
    const auto k = static_cast<int>(f.variance.size());
    text += "# variance explained by each factor (factor, variance, proportion):\n";
    for (int s = 0; s < k; ++s)
        append(text, "# variance %d %.17g %.17g\n", s + 1, f.variance[s], f.variance[s] / total);
    text += "# pattern: row k for variable k, column s for factor s, the factor loadings:\n";
    for (Eigen::Index i = 0; i < f.rotation.pattern.rows(); ++i) {
        text += "# pattern ";
        append_row(text, f.rotation.pattern.row(i));
    }
    if (factors.settings.rotation->oblique) {
        text += "# factor correlations:\n";
        for (int s = 0; s < k; ++s) {
            text += "# phi ";
            append_row(text, f.rotation.phi.row(s));
        }
    }
    append_adequacy_comments(text, factors);
}

// "principal axis factoring of the correlation matrix, 2 factors, promax
// rotation (power 4), regression (Thurstone) scores"
std::string factor_method(const FactorReport& factors, bool covariance)
{
    const FactorSettings& s = factors.settings;
    std::string text;
    append(text, "%s of the %s matrix, %d factor%s", s.method->description, matrix_name(covariance), s.factors,
           s.factors == 1 ? "" : "s");
    if (s.rotation->rotates)
        append(text, ", %s", s.rotation->description);
    if (const RotationParameter* parameter = s.rotation->parameter) {
        const double value = s.rotation_settings.*parameter->value;
        if (parameter->at_zero && value == 0)
            append(text, " (%s)", parameter->at_zero);
        else
            append(text, " (%s %g)", parameter->label, value);
    }
    // Said only when asked for, as the JSON report says them.
    if (normalize_applies(*s.rotation) && s.rotation_settings.normalize)
        text += ", Kaiser normalized";
    if (s.rotation->criterion && factors.solution.rotation.starts > 1)
        append(text, ", best of %d starts", factors.solution.rotation.starts);
    append(text, ", %s scores", s.scores->description);
    const auto n = static_cast<int>(factors.solution.uniquenesses.size());
    if (s.factors < n)
        append(text, "; scores %d to %d are principal components", s.factors + 1, n);
    return text;
}

// The loadings table of a factor model: a line per variable (by name, or
// number without names) in the order of sorted_variables, the pattern's
// loadings in the factors' columns (blank below the cut), the communality
// and the uniqueness; then the factor correlations of an oblique rotation.
void append_loadings_table(std::string& text, const FactorReport& factors, const std::vector<std::string>& names)
{
    const FactorSolution& f = factors.solution;
    const Eigen::MatrixXd& pattern = f.rotation.pattern;
    const auto k = static_cast<int>(pattern.cols());
    std::vector<std::string> labels;
    std::size_t width = 8;  // "variable"
    for (Eigen::Index i = 0; i < pattern.rows(); ++i) {
        labels.push_back(names.empty() ? std::to_string(i + 1) : names[i]);
        width = std::max(width, labels.back().size());
    }
    if (factors.cut > 0)
        append(text, "loadings (pattern; below %g blanked):\n", factors.cut);
    else
        text += "loadings (pattern):\n";
    const auto right = [&](const std::string& label) { text += std::string(width - label.size(), ' ') + label; };
    right("variable");
    for (int s = 0; s < k; ++s)
        append(text, "  %7d", s + 1);
    text += "  communality  uniqueness\n";
    for (const int i : sorted_variables(pattern)) {
        right(labels[i]);
        for (int s = 0; s < k; ++s)
            if (below_cut(pattern(i, s), factors.cut))
                text += "         ";
            else
                append(text, "  %7.3f", pattern(i, s));
        append(text, "  %11.3f  %10.3f\n", f.communalities[i], f.uniquenesses[i]);
    }
    if (!factors.settings.rotation->oblique)
        return;
    text += "factor correlations:\n";
    right("factor");
    for (int s = 0; s < k; ++s)
        append(text, "  %7d", s + 1);
    text += '\n';
    for (int r = 0; r < k; ++r) {
        right(std::to_string(r + 1));
        for (int s = 0; s < k; ++s)
            append(text, "  %7.3f", f.rotation.phi(r, s));
        text += '\n';
    }
}

}  // namespace

bool below_cut(double loading, double cut)
{
    return std::abs(loading) < cut;
}

Eigen::VectorXd factor_variance(const Fit& result, const FactorReport& factors)
{
    // The varimax factors of the components are those of the coefficients.
    Eigen::VectorXd variance = factors.solution.variance;
    if (!factors.in_coefficients && result.rotated > 0)
        for (Eigen::Index s = 0; s < std::min<Eigen::Index>(result.rotated, variance.size()); ++s)
            variance[s] = result.analysed.diagonal().dot(result.loadings.col(s).cwiseAbs2());
    return variance;
}

std::vector<int> sorted_variables(const Eigen::MatrixXd& pattern)
{
    const auto p = static_cast<int>(pattern.rows());
    std::vector<Eigen::Index> most(p, 0);
    for (int i = 0; i < p; ++i)
        pattern.row(i).cwiseAbs().maxCoeff(&most[i]);
    std::vector<int> order(p);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        if (most[a] != most[b])
            return most[a] < most[b];
        return std::abs(pattern(a, most[a])) > std::abs(pattern(b, most[b]));
    });
    return order;
}

std::string reliability_table(const std::vector<Scale>& scales, const std::vector<ScaleReliability>& values)
{
    std::string text;
    if (scales.empty())
        return text;
    int width = 5;  // "scale"
    for (const Scale& scale : scales)
        width = std::max(width, static_cast<int>(scale.name.size()));
    append(text, "reliability:\n%*s  items   alpha  std alpha  lambda 6  omega h  omega t  factors\n", width, "scale");
    for (std::size_t s = 0; s < scales.size(); ++s) {
        const ScaleReliability& v = values[s];
        append(text, "%*s  %5d  %6.3f  %9.3f  %8.3f", width, scales[s].name.c_str(),
               static_cast<int>(scales[s].items.size()), v.alpha, v.std_alpha, v.lambda6);
        if (v.omega_factors > 0)
            append(text, "  %7.3f  %7.3f  %7d\n", v.omega_hierarchical, v.omega_total, v.omega_factors);
        else
            text += "        -        -        0\n";
    }
    return text;
}

std::string coefficient_text(const Fit& result, bool covariance, const FitSource& source, const FactorReport* factors)
{
    const Eigen::Index n = result.eigenvalues.size();
    const double total = result.eigenvalues.sum();
    std::string text = "# Made by scorix-fit: " + method_description(result, covariance, factors) + "\n# data:";
    // A file name holding a newline would end the comment line and start
    // a line scorix reads, as "[STD]": escaped as the log line has it.
    for (const std::string& file : source.files) {
        text += ' ';
        text += escaped_word(file);
    }
    append(text, "\n# rows: %lld\n# variables: %d\n", source.rows, static_cast<int>(n));
    if (source.dropped)
        append(text, "# rows left out for a missing value: %lld\n", *source.dropped);
    if (!source.matrix.empty())
        append(text, "# input: %s matrix\n", source.matrix.c_str());
    if (source.ordinal)
        text += "# " + ordinal_note(source) + "\n";
    if (source.pairs)
        text += "# " + pairs_note(source) + "\n";
    if (!source.names.empty()) {
        text += "# names:";
        for (const std::string& name : source.names) {
            // scorix --header compares its data's names with these byte for
            // byte: an escaped line break would never match, a bare one
            // would cut the line.
            if (name.find('\n') != std::string::npos)
                throw FitError("the name of variable " + std::to_string(&name - source.names.data() + 1) +
                               " holds a line break, which the coefficient file's \"# names:\" line cannot keep");
            text += ' ' + quoted_name(name);
        }
        text += "\n";
    }
    append(text, "# eigenvalues of the %s matrix (component, eigenvalue, proportion, cumulative proportion):\n",
           matrix_name(covariance));
    double cumulative = 0;
    for (Eigen::Index s = 0; s < n; ++s) {
        cumulative += result.eigenvalues[s];
        append(text, "# eigenvalue %d %.17g %.17g %.17g\n", static_cast<int>(s + 1), result.eigenvalues[s],
               result.eigenvalues[s] / total, cumulative / total);
    }
    if (result.rotated > 0) {
        text += "# variance explained by each rotated factor (score, variance, proportion):\n";
        const Eigen::VectorXd spread = result.analysed.diagonal();
        for (int s = 0; s < result.rotated; ++s) {
            const double variance = spread.dot(result.loadings.col(s).cwiseAbs2());
            append(text, "# variance %d %.17g %.17g\n", s + 1, variance, variance / total);
        }
    }
    if (factors && factors->in_coefficients)
        append_factor_comments(text, *factors, total);
    else if (factors)
        append_adequacy_comments(text, *factors);
    text += "# loadings: row k for variable k, column s for score s, the correlation of the variable with the score:\n";
    for (Eigen::Index k = 0; k < n; ++k) {
        text += "# loading ";
        append_row(text, result.loadings.row(k));
    }
    text += "[MEAN]\n";
    append_row(text, result.mean);
    text += "[STD]\n";
    append_row(text, result.std);
    text += "[FSC_SORTED]\n";
    for (Eigen::Index k = 0; k < n; ++k)
        append_row(text, result.coefficients.row(k));
    return text;
}

std::string eigenvalue_table(const Fit& result, bool covariance, const FitSource& source, const FactorReport* factors)
{
    std::string text;
    const Eigen::Index n = result.eigenvalues.size();
    append(text, "%lld rows", source.rows);
    if (source.dropped)
        append(text, " (%lld with a missing value left out)", *source.dropped);
    append(text, ", %d variables: %s\n", static_cast<int>(n), method_description(result, covariance, factors).c_str());
    if (source.ordinal)
        text += ordinal_note(source) + "\n";
    if (source.pairs)
        text += pairs_note(source) + "\n";
    text += "component    eigenvalue  % of variance  cumulative %\n";
    const double total = result.eigenvalues.sum();
    double cumulative = 0;
    for (Eigen::Index s = 0; s < n; ++s) {
        cumulative += result.eigenvalues[s];
        append(text, "%9d  %12.6g  %13.2f  %12.2f\n", static_cast<int>(s + 1), result.eigenvalues[s],
               100 * result.eigenvalues[s] / total, 100 * cumulative / total);
    }
    if (!factors)
        return text;
    const FactorSolution& f = factors->solution;
    const Eigen::VectorXd variance = factor_variance(result, *factors);
    text += "   factor      variance  % of variance\n";
    for (Eigen::Index s = 0; s < variance.size(); ++s)
        append(text, "%9d  %12.6g  %13.2f\n", static_cast<int>(s + 1), variance[s], 100 * variance[s] / total);
    if (factors->in_coefficients)
        append_loadings_table(text, *factors, source.names);
    else {
        text += " variable   communality     uniqueness\n";
        for (Eigen::Index i = 0; i < f.communalities.size(); ++i)
            append(text, "%9d  %12.6g  %13.6g\n", static_cast<int>(i + 1), f.communalities[i], f.uniquenesses[i]);
    }
    append(text, "KMO %.3f; Bartlett's sphericity: chi2 %.6g, df %g, p %.3g\n", factors->kmo.overall,
           factors->sphericity.chi2, factors->sphericity.df, factors->sphericity.p);
    if (factors->fit && factors->settings.method->chi_square == ChiSquareSource::likelihood)
        append(text, "ML fit: chi2 %.6g, df %g, p %.3g, RMSEA %.4g, TLI %.4g, BIC %.6g\n", factors->fit->test.chi2,
               factors->fit->test.df, factors->fit->test.p, factors->fit->rmsea, factors->fit->tli, factors->fit->bic);
    const FactorCount& count = factors->count;
    for (const auto& [analysis, what] : {std::pair(&count.parallel, "components"),
                                         std::pair(&count.parallel_factors, "common factors (reduced matrix)")})
        if (*analysis) {
            append(text, "parallel analysis of the %s: %d eigenvalue%s above the ", what, (*analysis)->factors,
                   (*analysis)->factors == 1 ? "" : "s");
            if (count.quantile > 0)
                append(text, "%g quantile", count.quantile);
            else
                text += "mean";
            append(text, " of %d replicates (seed %llu)\n", count.replicates,
                   static_cast<unsigned long long>(count.seed));
        }
    if (count.map)
        append(text, "MAP over 1 to %d components: least after %d\n", static_cast<int>(count.map->values.size()),
               count.map->factors);
    return text;
}
