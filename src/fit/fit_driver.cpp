#include "fit/fit_driver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <malloc.h>
#include <unistd.h>

#include "common/progress.h"
#include "fit/fit_input.h"
#include "fit/fit_json.h"
#include "fit/fit_options.h"
#include "fit/fit_report.h"
#include "fit/html_report.h"
#include "fit/linear_algebra.h"
#include "fit/moment_file.h"
#include "write/atomic_file.h"
#include "write/invocation_log.h"
#include "write/output_writer.h"

namespace {

// A method as a warning names it: "maximum likelihood".
std::string short_name(const ExtractionMethod& method)
{
    const std::string_view tail = " factor analysis", description = method.description;
    return std::string(description.ends_with(tail) ? description.substr(0, description.size() - tail.size())
                                                   : description);
}

// The outputs of a run, each put in place whole, and all of them or none:
// every file is written to its temporary, standard output's share ("-") and
// the console table are written, and only then are the files put in place.
// A failure before that leaves every earlier file as it was.
void write_outputs(const std::vector<std::pair<std::string, std::string>>& outputs, const std::string& table,
                   std::FILE* console)
{
    std::vector<AtomicFile> files;
    files.reserve(outputs.size());
    for (const auto& [name, text] : outputs) {
        if (name == "-")
            continue;
        const AtomicFile& file = files.emplace_back(name);
        if (file.fd() < 0 || !write_all(file.fd(), text.data(), text.size()))
            throw FitError(name + ": " + std::strerror(errno));
    }
    for (const auto& [name, text] : outputs)
        if (name == "-" && !write_all(STDOUT_FILENO, text.data(), text.size()))
            throw FitError(std::string("standard output: ") + std::strerror(errno));
    // A table lost on a full standard output is a failed write too.
    std::fputs(table.c_str(), console);
    if (console == stdout && (std::fflush(stdout) != 0 || std::ferror(stdout)))
        throw FitError(std::string("standard output: ") + std::strerror(errno));
    for (AtomicFile& file : files)
        if (!file.commit())
            throw FitError(file.name() + ": " + std::strerror(errno));
}

// How many factors the options ask for (-k's rule), in the settings of the
// options.
FactorReport counted_factors(const Fit& base, const Options& options, long long rows)
{
    FactorReport report;
    report.count = options.rule->count({.correlation = correlation(base.analysed),
                                        .eigenvalues = base.correlation_eigenvalues,
                                        .rows = rows,
                                        .factors = options.factors,
                                        .replicates = options.replicates,
                                        .seed = options.seed,
                                        .parallel = options.parallel,
                                        .quantile = options.quantile,
                                        .common_factors = !options.method->components});
    report.settings = {options.method,       options.rotation,          options.scores,
                       report.count.factors, options.rotation_settings, options.seed};
    return report;
}

// A counting rule's number of common factors for more than 100 variables is
// refused, before the long fit, when a factor would have fewer than three
// variables of its own: on noise the kaiser rule counts about half the
// variables (242 of 500), which no factor model identifies as factors, and
// which takes the iterative methods hours (a decomposition of the whole
// matrix per step). With fewer variables such a count is an everyday fit
// (3 factors of 8 variables) and a quick one. A given -k is the user's
// choice, held only to each method's own limit.
void refuse_counted_excess(const FactorReport& report, const Options& options, int variables)
{
    const int k = report.count.factors;
    if (options.method->components || options.rule == given_factor_count() || variables <= 100 || 3 * k <= variables)
        return;
    throw FitError("-k " + std::string(options.rule->name) + " counts " + std::to_string(k) + " factors for " +
                   std::to_string(variables) + " variables, more than a third of them (" +
                   std::to_string(variables / 3) +
                   "): a common factor needs at least three variables; give the number (-k N), count with -k "
                   "parallel --parallel=fa, or fit components (--method=pc)");
}

// The solution of the report's settings and the figures that judge it.
// The components' signs are those of the coefficient file, whose loadings
// are the correlations with the scores scorix computes; a factor model's
// coefficients are its own weights, signed by its rule.
void solve(FactorReport& report, const Fit& base, const Eigen::MatrixXd* signs, long long rows)
{
    const Eigen::MatrixXd r = correlation(base.analysed);
    report.solution = factor_solution(base.analysed, report.settings, signs);
    report.kmo = sampling_adequacy(r);
    report.sphericity = sphericity(r, rows);
    const Rotation& rotated = report.solution.rotation;
    report.residual = residual_fit(base.analysed, rotated.pattern, rotated.phi);
    switch (report.settings.method->chi_square) {
    case ChiSquareSource::none: break;
    case ChiSquareSource::likelihood:
        report.fit = model_fit(r, rows, report.settings.factors, report.solution.extraction.objective);
        break;
    case ChiSquareSource::model:
        report.fit =
            model_fit(r, rows, report.settings.factors, model_discrepancy(base.analysed, rotated.pattern, rotated.phi));
        break;
    }
}

// The components of the matrix the data file holds (--input), with the
// means and standard deviations that --mean and --std give or, for a
// covariance matrix, the roots of its diagonal. What the matrix cannot give
// is said in one line: scores of the coefficient file are then those of
// standardized data.
Fit given_matrix(const RowPool& pool, const Options& options)
{
    const bool covariance_input = std::string_view(options.input) == "covariance";
    const Eigen::MatrixXd matrix = pool.matrix(options.files.front(), covariance_input);
    const Eigen::Index p = matrix.rows();
    Eigen::VectorXd mean = options.mean ? values_file(*options.mean, p, false) : Eigen::VectorXd::Zero(p);
    Eigen::VectorXd std = options.std        ? values_file(*options.std, p, true)
                          : covariance_input ? Eigen::VectorXd(matrix.diagonal().cwiseSqrt())
                                             : Eigen::VectorXd::Ones(p);
    Fit result = analyse_matrix(matrix, options.rows, options.covariance, std::move(mean), std::move(std));
    const bool no_std = !options.std && !covariance_input;
    if (!options.mean || no_std)
        std::fprintf(stderr,
                     "scorix-fit: warning: a %s matrix has no %s: the coefficient file has %s (give them with %s)\n",
                     options.input,
                     !options.mean && no_std ? "means or standard deviations"
                     : no_std                ? "standard deviations"
                                             : "means",
                     !options.mean && no_std ? "means 0 and standard deviations 1"
                     : no_std                ? "standard deviations 1"
                                             : "means 0",
                     !options.mean && no_std ? "--mean=FILE --std=FILE"
                     : no_std                ? "--std=FILE"
                                             : "--mean=FILE");
    return result;
}

// The matrix of pairwise missing values: the ordinal type's own, or the
// pairs' pearson correlations (smoothed or refused as an ordinal type's)
// or covariances.
Eigen::MatrixXd pairwise_matrix(const PairMoments& moments, const Options& options, const OrdinalCorrelation* ordinal,
                                PairCounts& pairs)
{
    Eigen::MatrixXd matrix = ordinal              ? ordinal->matrix
                             : options.covariance ? moments.covariance()
                                                  : moments.correlation();
    if (!ordinal && !options.covariance)
        pairs.smoothed = settle_correlation(matrix, options.cor->name, options.correlation);
    // Smoothing is of correlations: pairwise covariances that are not
    // positive definite are refused.
    if (options.covariance && !(decreasing_eigenvalues(matrix)[matrix.rows() - 1] > 0))
        throw FitError("the pairwise covariance matrix is not positive definite; leave out --covariance to fit the "
                       "smoothed correlation matrix");
    return matrix;
}

// Whether the operands are moment files (all of them) or data files (all).
bool moment_operands(const std::vector<std::string>& files)
{
    // Each file is looked at once: a pipe gives its first bytes once.
    std::vector<std::string> moments, data;
    for (const std::string& path : files)
        (is_moment_file(path) ? moments : data).push_back(path);
    if (!moments.empty() && !data.empty())
        throw FitError(moments.front() + " is a moment file, but " + data.front() +
                       " is not: give moment files (merged and fit) or data files, not both");
    return data.empty();
}

// The moment files of the operands, merged in order into `pool`: each one
// of the settings of the first and of the variables and names of the first
// that has rows. Returns the data files they hold.
std::vector<std::string> merge_moment_files(RowPool& pool, const Options& options, const MomentFile& first)
{
    std::vector<std::string> data;
    std::string named;  // the file the variables came from
    std::vector<std::string> names;
    int variables = 0;
    for (std::size_t k = 0; k < options.files.size(); ++k) {
        const std::string& path = options.files[k];
        const MomentFile file = k == 0 ? first : read_moment_file(path);
        if (file.settings != first.settings)
            throw FitError(path + ": written with other reading options than " + options.files.front() + " (" +
                           settings_text(file.settings) + " against " + settings_text(first.settings) + ")");
        if (file.variables > 0 && variables > 0 && file.variables != variables)
            throw FitError(path + ": " + std::to_string(file.variables) + " variables, but " + named + " has " +
                           std::to_string(variables));
        if (file.variables > 0 && variables > 0 && file.names != names)
            throw FitError(path + ": the names differ from those of " + named);
        if (file.variables > 0 && variables == 0) {
            variables = file.variables;
            names = file.names;
            named = path;
        }
        pool.take(path, file.variables, file.names, file.state);
        data.insert(data.end(), file.data.begin(), file.data.end());
    }
    return data;
}

// The streamed state of the data files, written to --moments.
void write_moments(const RowPool& pool, const Options& options, const MomentSettings& settings,
                   std::vector<std::string> data)
{
    MomentFile file;
    file.data = std::move(data);
    file.settings = settings;
    file.variables = std::max(pool.variables(), 0);
    file.names = pool.names();
    file.state = pool.streamed();
    write_outputs({{*options.moments, moment_text(file)}}, "", stdout);
}

int fit_files(const Options& given, const std::string& command)
{
    // Moment files bring the reading options they were written with; a
    // run that gives any must give the same.
    Options options = given;
    std::optional<MomentFile> first;
    if (moment_operands(options.files)) {
        first = read_moment_file(options.files.front());
        if (const MomentSettings asked = moment_settings(options);
            asked != moment_settings(Options()) && asked != first->settings)
            throw FitError(options.files.front() + ": written with " + settings_text(first->settings) +
                           ", but this run reads with " + settings_text(asked));
        use_moment_settings(options, first->settings);
    }
    RowPool pool(options.format, options.drop_incomplete, {options.skip, options.columns, options.matrix_input()});
    pool.count_categories(*options.cor, options.correlation);
    if (options.pairwise)
        pool.keep_missing();
    std::vector<std::string> data = options.files;  // for a moment file, of the data files behind them
    if (first)
        data = merge_moment_files(pool, options, *first);
    else
        for (const std::string& path : options.files)
            pool.read(path);
    if (options.moments) {
        write_moments(pool, options, first ? first->settings : moment_settings(options), std::move(data));
        return 0;
    }
    if (!options.matrix_input() && pool.rows() < 2)
        throw FitError(options.files.back() + ": a fit needs at least 2 data rows, found " +
                       std::to_string(pool.rows()));
    // A matrix given as input stands for the rows --rows says.
    const long long rows = options.matrix_input() ? options.rows : pool.rows();
    const bool components = options.components_only();
    // The JSON report and the web page hold the whole factor model, which
    // the components then need to have (the coefficient file and the
    // console table do not).
    const bool whole_report = options.json || options.report;
    std::optional<PairCounts> pairs;
    if (options.pairwise)
        pairs = pair_counts(*pool.pairs(), pool.names());
    std::optional<OrdinalCorrelation> ordinal;
    if (options.cor->matrix)
        ordinal = options.cor->matrix(pool.gathered(), *options.cor, options.correlation);
    std::optional<Eigen::MatrixXd> pairwise;
    if (pairs)
        pairwise = pairwise_matrix(*pool.pairs(), options, ordinal ? &*ordinal : nullptr, *pairs);
    if ((ordinal && ordinal->smoothed) || (pairs && pairs->smoothed))
        std::fprintf(stderr,
                     "scorix-fit: warning: the %s correlation matrix is not positive definite; smoothed (eigenvalues "
                     "below 1e-12 raised to 1e-10, rescaled to a unit diagonal)\n",
                     options.cor->name);
    // Pairwise: the coefficient file's means and standard deviations are
    // those of each variable's present values.
    Fit result = options.matrix_input() ? given_matrix(pool, options)
                 : pairwise ? analyse_matrix(*pairwise, pool.rows(), options.covariance, pool.pairs()->mean(),
                                             pool.pairs()->std())
                            : analyse(pool.moments(), options.covariance, ordinal ? &ordinal->matrix : nullptr);
    // The components' factor model is left out when it fails, below: a count
    // they cannot have is said first, as their rotation says it.
    if (const auto n = static_cast<int>(result.eigenvalues.size());
        components && (!whole_report || options.rotation->rotates) && options.rule == given_factor_count() &&
        options.factors > n)
        throw FitError(std::to_string(options.factors) + " factors asked for, but there are only " + std::to_string(n) +
                       " variables");
    // The scales' reliability: omega from the matrix the run factors (scaled
    // by the standard deviations), the alpha family from the raw variables'
    // covariances, which are that matrix unless the correlations are of
    // another kind than Pearson's.
    const std::vector<Scale> scales =
        resolve_scales(options.scales, pool.names(), static_cast<int>(result.eigenvalues.size()));
    std::vector<ScaleReliability> reliabilities;
    const Eigen::MatrixXd factored = scaled(result.analysed, result.std);
    std::optional<Eigen::MatrixXd> raw;
    if (ordinal && !scales.empty())
        raw = pool.pairs() ? pool.pairs()->covariance()
                           : Eigen::MatrixXd(pool.moments().comoments() / static_cast<double>(pool.rows() - 1));
    for (const Scale& scale : scales) {
        reliabilities.push_back(
            reliability(raw ? *raw : factored, factored, scale, options.rotation_settings, options.seed));
        if (!reliabilities.back().converged)
            std::fprintf(stderr,
                         "scorix-fit: warning: scale %s: the minres search or the oblimin rotation of its omega "
                         "did not converge\n",
                         scale.name.c_str());
    }
    std::optional<FactorReport> factors = counted_factors(result, options, rows);
    factors->scales = scales;
    factors->reliability = reliabilities;
    refuse_counted_excess(*factors, options, static_cast<int>(result.eigenvalues.size()));
    if (components)
        turn_components(result, factors->settings);
    try {
        // The rotated components' figures without a JSON report are those of
        // the components before the rotation (the communalities do not
        // change under one).
        if (components && !whole_report)
            factors->settings.rotation = &no_rotation();
        const bool same_factors = components && factors->settings.rotation == options.rotation;
        solve(*factors, result, same_factors ? &result.loadings : nullptr, rows);
        // Rotated components report the communalities of the components
        // before the rotation, with a JSON report too: the coefficient file
        // is the same whichever outputs a run writes.
        if (components && factors->settings.rotation->rotates) {
            FactorReport unrotated = *factors;
            unrotated.settings.rotation = &no_rotation();
            unrotated.solution = factor_solution(result.analysed, unrotated.settings, &result.loadings);
            factors->solution.communalities = unrotated.solution.communalities;
        }
    } catch (const FitError&) {
        // The components alone need no more than their decomposition: their
        // communalities and adequacy figures are left out when the factor
        // model fails (a matrix too near singular for its inverse).
        if (!components || whole_report)
            throw;
        factors.reset();
    }
    if (factors) {
        factors->in_coefficients = !components;
        factors->cut = options.cut;
        if (!components)
            use_weights(result, factors->solution);
        // A component's uniqueness is no estimate, what it leaves out: no
        // Heywood warning for components, rotated or not (the JSON report
        // still lists the variables). Maximum likelihood and minimum residual
        // hold a uniqueness at their bound; the other methods have none, a
        // uniqueness there is near or below zero.
        if (const std::vector<int>& heywood = factors->solution.heywood;
            !heywood.empty() && !options.method->components) {
            std::string variables, values;
            for (const int i : heywood) {
                char value[40];
                std::snprintf(value, sizeof value, "%s%g", values.empty() ? "" : ", ",
                              heywood_uniquenesses(factors->solution)[i]);
                variables += (variables.empty() ? "" : ", ") + std::to_string(i + 1);
                values += value;
            }
            char bound[48];
            std::snprintf(bound, sizeof bound, "%g of the variance", kLeastUniqueness);
            const std::string note =
                options.method->bounded
                    ? "the bound of " + short_name(*options.method) + ", " + bound
                    : std::string("at most ") + bound + "; " + options.method->description + " has no bound";
            const bool one = heywood.size() == 1;
            std::fprintf(stderr, "scorix-fit: warning: Heywood case: variable%s %s ha%s uniqueness%s %s (%s)\n",
                         one ? "" : "s", variables.c_str(), one ? "s" : "ve", one ? "" : "es", values.c_str(),
                         note.c_str());
        }
        if (!factors->solution.extraction.converged)
            std::fprintf(stderr,
                         "scorix-fit: warning: %s did not converge: no start reached a projected gradient within "
                         "1e-8; the factors are those of its best start\n",
                         short_name(*options.method).c_str());
    }
    // A rotation stopped at its step cap is still a rotation of the same
    // factors, and the scores stay invertible, but it is not the one its
    // criterion asks for: said, as R's rotations say it, and the JSON report
    // has "converged": false.
    const bool rotation_converged = components ? result.converged : factors->solution.rotation.converged;
    if (!rotation_converged)
        std::fprintf(stderr,
                     "scorix-fit: warning: the %s rotation did not converge in %d iterations; the factors are "
                     "those of its last iteration\n",
                     options.rotation->name, components ? result.iterations : factors->solution.rotation.iterations);
    const FitSource source{options.files,
                           rows,
                           pool.names(),
                           options.drop_incomplete ? std::optional<long long>(pool.dropped()) : std::nullopt,
                           options.matrix_input() ? options.input : "",
                           options.cor,
                           ordinal ? &*ordinal : nullptr,
                           pairs ? &*pairs : nullptr};
    const std::string name = options.output.value_or(output_name(options.files.front(), ".fsc"));
    const FactorReport* report = factors ? &*factors : nullptr;
    std::vector<std::pair<std::string, std::string>> outputs;
    if (options.json)
        outputs.emplace_back(*options.json, json_report(result, options.covariance, source, *factors));
    if (options.report)
        outputs.emplace_back(*options.report,
                             html_report(result, options.covariance, source, *factors, {command, options.rule}));
    outputs.emplace_back(name, coefficient_text(result, options.covariance, source, report));
    write_outputs(outputs,
                  options.quiet ? ""
                                : eigenvalue_table(result, options.covariance, source, report) +
                                      reliability_table(scales, reliabilities),
                  name == "-" || options.json.value_or("") == "-" ? stderr : stdout);
    return 0;
}

}  // namespace

int run_fit(int argc, char** argv)
{
    install_signal_cleanup();
    // Eigen takes its work space from the heap for every block's product.
    // On a worker thread glibc would map those pages afresh each time and
    // hand them back after it (9,000 page faults for a million rows of 20
    // against 4,900); fixed thresholds keep them.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    try {
        std::optional<Options> options = parse_options(argc, argv);
        if (options) {
            set_progress_mode(options->progress);
            std::string command;
            for (int i = 0; i < argc; ++i) {
                if (i)
                    command += ' ';
                command += escaped_word(argv[i]);
            }
            return fit_files(*options, command);
        }
        // The help or the version lost on a full standard output.
        if (std::fflush(stdout) != 0 || std::ferror(stdout))
            throw FitError(std::string("standard output: ") + std::strerror(errno));
        return 0;
    } catch (const UsageError& rejected) {
        std::fprintf(stderr, "scorix-fit: %s\nTry 'scorix-fit --help' for more information.\n", rejected.text.c_str());
        return 2;
    } catch (const FitError& failure) {
        std::fprintf(stderr, "scorix-fit: %s\n", failure.what());
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "scorix-fit: out of memory\n");
    }
    return 1;
}
