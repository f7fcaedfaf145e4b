#include "fit/fit_options.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>

#include <getopt.h>
#include <sys/stat.h>

#include "fit/fit_error.h"
#include "write/output_writer.h"

#ifndef SCORIX_VERSION
#define SCORIX_VERSION "unknown"
#endif

namespace {

constexpr const char* kHelp = R"(Usage: scorix-fit [OPTION]... DATA...
Fit principal components or a factor model to the rows of the DATA files,
pooled in order, and write the coefficient file that scorix reads: the means,
the standard deviations and the score coefficients, with the eigenvalues and
the loadings in comment lines.

  -o, --output=FILE    write the coefficients to FILE ('-': standard output);
                       default: the first DATA file with the extension .fsc,
                       standard output when it is '-' (standard input)
      --covariance     analyse the covariance matrix, not the correlation
                       matrix (the standard deviations are then 1)
      --cor=TYPE       the correlations analysed: pearson (default),
                       polychoric (ordered categories coded as whole
                       numbers, at most 8 each), tetrachoric (two
                       categories each), mixed (each pair by its kinds:
                       Pearson, polyserial or polychoric) or spearman
                       (of ranks; keeps every row in memory)
      --ordinal=LIST   the ordinal variables of --cor=mixed, by position
                       or name (as --columns); the others are continuous
      --max-categories=N  without --ordinal, --cor=mixed takes a variable
                       of whole numbers with at most N distinct values
                       (default 8) as ordinal
      --no-smooth      refuse a polychoric, tetrachoric, mixed or pairwise
                       matrix that is not positive definite instead of
                       smoothing it
      --method=METHOD  pc: principal components (default); pa: principal
                       axis factoring; ml: maximum likelihood; minres (or
                       uls): minimum residual, psych's default; wls, gls:
                       weighted and generalized least squares (psych's)
      --rotate=NAME    none (default), varimax, quartimax, promax, oblimin,
                       geominT (orthogonal geomin), geominQ (oblique geomin),
                       equamax, bentlerT, bentlerQ (orthogonal, oblique
                       Bentler), targetT, targetQ (orthogonal, oblique
                       rotation to --target); names in any case
      --varimax        the same as --rotate=varimax
      --promax-power=M the power of promax (default 4)
      --gamma=G        oblimin's gamma (default 0, quartimin)
      --geomin-delta=D what geomin adds to each squared loading (default
                       0.01, as GPArotation's delta)
      --target=FILE    the target of targetT and targetQ: one line of
                       numbers per variable, one column per factor
      --normalize      Kaiser's normalization for the rotations other than
                       varimax and promax (which always have it)
      --rotation-starts=N  rotate from the identity and N-1 random starts
                       of --seed, keeping the best (default 100)
      --scores=TYPE    the score coefficients of the factors: regression
                       (default), bartlett or tenberge (ten Berge's: scores
                       that correlate as the factors do)
  -k, --factors=K      how many factors: a number, kaiser (default: the
                       eigenvalues of at least 1), parallel (parallel
                       analysis) or map (minimum average partial, over 1 to
                       the variables less 1 components)
      --parallel=KIND  what parallel analysis compares: pc (default: the
                       eigenvalues of the correlation matrix), fa (those of
                       the reduced correlation matrix, with squared multiple
                       correlations on its diagonal) or both (counting by
                       fa for a factor model, pc for components)
      --quantile=Q     compare the simulated eigenvalues' Q quantile (as
                       0.95) instead of their mean
      --replicates=N   simulated data sets of parallel analysis (default 100)
      --seed=N         the seed of the random numbers (default 1)
      --json=FILE      also write the whole report as JSON ('-': standard
                       output)
      --report=FILE    also write the report as a web page (HTML with its
                       figures: scree plot, loadings, factor diagram)
      --delimiter=C    fields separated by C (',' ';' '|' or tab) instead of
                       white space, quoted as in CSV ("a ""b"", c")
      --csv            the same as --delimiter=,
      --header         the first line holds the variables' names, kept in
                       the coefficient file and the JSON report
      --labels=LIST    fields (from 1, as in 1 or 1,6) that hold labels, not
                       variables
      --na=LIST        the tokens of a missing value (default NA; an empty
                       field is one too)
      --drop-incomplete  leave out the rows with a missing value
      --missing=MODE   listwise: the same; pairwise: each correlation from
                       the rows where both variables are present
      --columns=LIST   the fields that hold the variables, by position (from
                       1) or name (with --header), ranges as A1-A5 or 3-7;
                       the other fields are not read
      --skip=N         pass over the first N lines of each file
      --input=KIND     what the DATA file holds: data (default), or a
                       correlation or covariance matrix (one row and column
                       per variable) of --rows=N observations
      --mean=FILE, --std=FILE  a matrix's means and standard deviations, one
                       number per variable, for the coefficient file
      --decimal=,      decimal commas (with --delimiter=';', say)
      --cut=C          the console table leaves out loadings of magnitude
                       below C (default 0: all shown; psych users take 0.3)
      --scale=NAME:ITEMS  report the reliability of a scale: its items
                       (variables by name or number, '-' in front of a
                       reversed one) separated by commas, as A:-A1,A2,A3
      --reliability=FILE  the same for each line NAME: ITEMS of FILE
      --moments=FILE   write the rows' moments (and tables) to FILE ('-':
                       standard output) instead of fitting; DATA files that
                       are all such moment files are merged in order and fit
  -q, --quiet          no table of eigenvalues
      --progress       show the progress line of long work on standard error
                       (by default only when it is a terminal); --no-progress:
                       never
  -h, --help           display this help and exit
      --version        output version information and exit

A data row is a line of numbers separated by white space (words after them
are ignored; a number that runs into other text, as in "1.5,2", is an error);
lines starting with '#', '!' or ';' are comments. A DATA file '-' is
standard input; compressed files are read as they are. Exit status: 0 on
success, 1 on bad input or a failed write, 2 on a bad command line.
)";

enum LongOnly {
    kDropIncomplete = 255,
    kVarimax = 256,
    kCovariance,
    kVersion,
    kMethod,
    kRotate,
    kPromaxPower,
    kGeominDelta,
    kGamma,
    kTarget,
    kNormalize,
    kRotationStarts,
    kScores,
    kReplicates,
    kSeed,
    kJson,
    kReport,
    kCut,
    kParallel,
    kQuantile,
    kSkip,
    kColumns,
    kInput,
    kRows,
    kMean,
    kStd,
    kCor,
    kNoSmooth,
    kOrdinal,
    kMaxCategories,
    kScale,
    kReliability,
    kMissing,
    kMoments,
    kProgress,
    kNoProgress
};
std::string rejected_option(int option, const char* word)
{
    std::string given = word;
    const bool long_form = given.rfind("--", 0) == 0;
    given = given.substr(0, given.find('='));
    if (option == ':')
        return long_form ? "option '" + given + "' requires an argument"
                         : std::string("option requires an argument -- '") + static_cast<char>(optopt) + "'";
    if (long_form)
        return optopt ? "option '" + given + "' doesn't allow an argument" : "unrecognized option '" + given + "'";
    return std::string("invalid option -- '") + static_cast<char>(optopt) + "'";
}

long long whole_number(const char* text, long long least, long long most, const char* what)
{
    char* end = nullptr;
    errno = 0;
    long long count = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || count < least || count > most)
        throw UsageError{std::string("invalid ") + what + " '" + text + "'"};
    return count;
}

void factor_rule(Options& options, const char* text)
{
    // The last -k holds: a rule after a number leaves no number behind, which
    // the plain components' varimax would otherwise rotate.
    options.factors = 0;
    options.rule = find_factor_count(text);
    if (!options.rule) {
        options.rule = given_factor_count();
        options.factors = static_cast<int>(whole_number(text, 1, 1000000, "number of factors"));
    }
}

// The entry of a method table that `text` names.
template <class Method, class Find>
const Method* named(const char* text, Find find, const char* what)
{
    if (const Method* method = find(text))
        return method;
    throw UsageError{std::string("invalid ") + what + " '" + text + "'"};
}

// Whether two output names lead to the same file: one regular file (or
// one name for a file yet to be made), not a device such as /dev/null.
bool same_file(const std::string& a, const std::string& b)
{
    struct stat first, second;
    const bool first_exists = ::stat(a.c_str(), &first) == 0, second_exists = ::stat(b.c_str(), &second) == 0;
    if (first_exists && second_exists)
        return first.st_dev == second.st_dev && first.st_ino == second.st_ino && S_ISREG(first.st_mode);
    if (first_exists || second_exists)
        return false;
    namespace fs = std::filesystem;
    std::error_code failed_a, failed_b;
    const fs::path path_a = fs::weakly_canonical(fs::absolute(a, failed_a), failed_a),
                   path_b = fs::weakly_canonical(fs::absolute(b, failed_b), failed_b);
    return failed_a || failed_b ? a == b : path_a == path_b;
}

// The matrix of a target file: lines of numbers separated by white space,
// each line a variable, as many numbers on each; blank lines and lines
// starting with '#' are skipped.
Eigen::MatrixXd read_target(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        throw FitError(path + ": " + std::strerror(errno));
    std::vector<double> values;
    Eigen::Index rows = 0, columns = 0;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string field;
        Eigen::Index count = 0;
        while (fields >> field) {
            char* end = nullptr;
            const double value = std::strtod(field.c_str(), &end);
            if (end == field.c_str() || *end != '\0' || !std::isfinite(value))
                throw FitError(path + ": line " + std::to_string(number) + ": '" + field + "' is not a number");
            values.push_back(value);
            ++count;
        }
        if (rows > 0 && count != columns)
            throw FitError(path + ": line " + std::to_string(number) + " has " + std::to_string(count) +
                           " numbers, the lines before it " + std::to_string(columns));
        columns = count;
        ++rows;
    }
    if (in.bad())
        throw FitError(path + ": " + std::strerror(errno));
    if (rows == 0)
        throw FitError(path + ": no target matrix");
    return Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(values.data(), rows,
                                                                                                    columns);
}

// --missing=listwise (--drop-incomplete) or pairwise, the last one given.
void missing_mode(Options& options, std::string_view mode)
{
    if (mode != "listwise" && mode != "pairwise")
        throw UsageError{"--missing=" + std::string(mode) + ": listwise or pairwise"};
    options.pairwise = mode == "pairwise";
    options.drop_incomplete = !options.pairwise;
    options.format.table = true;
}

// The options that go with --input and those that need rows of data.
void check_matrix_input(const Options& options)
{
    const std::string input = std::string("--input=") + options.input;
    if (!options.matrix_input()) {
        if (options.rows || options.mean || options.std)
            throw UsageError{std::string(options.rows   ? "--rows"
                                         : options.mean ? "--mean"
                                                        : "--std") +
                             " goes with --input=correlation or --input=covariance; data rows give their own"};
        return;
    }
    if (!options.rows)
        throw UsageError{input + " needs --rows=N, the number of observations behind the matrix"};
    if (options.pairwise)
        throw UsageError{input + ": --missing=pairwise makes a matrix of data rows; a matrix is taken whole"};
    if (options.drop_incomplete || options.columns)
        throw UsageError{input + ": " + (options.drop_incomplete ? "--drop-incomplete" : "--columns") +
                         " chooses among data rows and fields; a matrix is taken whole"};
    if (options.covariance && std::string_view(options.input) == "correlation")
        throw UsageError{"--covariance needs the covariance matrix (--input=covariance)"};
    if (options.files.size() > 1)
        throw UsageError{input + " reads one matrix, from one file"};
    if (options.std && std::string_view(options.input) == "covariance")
        throw UsageError{"--std: the standard deviations of --input=covariance are the roots of its diagonal"};
    if (options.cor->matrix)
        throw UsageError{input + ": --cor=" + options.cor->name +
                         (options.cor->keeps_rows ? " ranks the values" : " counts the categories") + " of data rows"};
}

// The scales of a file: a line "NAME: ITEMS" each; blank lines and lines
// starting with '#' are skipped.
void read_scales(const std::string& path, std::vector<ScaleWords>& scales)
{
    std::ifstream in(path);
    if (!in)
        throw FitError(path + ": " + std::strerror(errno));
    const std::size_t before = scales.size();
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos || line[0] == '#')
            continue;
        try {
            scales.push_back(scale_words(line));
        } catch (const FitError& wrong) {
            throw FitError(path + ": line " + std::to_string(number) + ": " + wrong.what());
        }
    }
    if (in.bad())
        throw FitError(path + ": " + std::strerror(errno));
    if (scales.size() == before)
        throw FitError(path + ": no scale");
}

}  // namespace

std::optional<Options> parse_options(int argc, char** argv)
{
    static const option kOwn[] = {
        {"output", required_argument, nullptr, 'o'},
        {"factors", required_argument, nullptr, 'k'},
        {"varimax", no_argument, nullptr, kVarimax},
        {"covariance", no_argument, nullptr, kCovariance},
        {"quiet", no_argument, nullptr, 'q'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {"method", required_argument, nullptr, kMethod},
        {"rotate", required_argument, nullptr, kRotate},
        {"promax-power", required_argument, nullptr, kPromaxPower},
        {"geomin-delta", required_argument, nullptr, kGeominDelta},
        {"gamma", required_argument, nullptr, kGamma},
        {"target", required_argument, nullptr, kTarget},
        {"normalize", no_argument, nullptr, kNormalize},
        {"rotation-starts", required_argument, nullptr, kRotationStarts},
        {"scores", required_argument, nullptr, kScores},
        {"replicates", required_argument, nullptr, kReplicates},
        {"seed", required_argument, nullptr, kSeed},
        {"json", required_argument, nullptr, kJson},
        {"report", required_argument, nullptr, kReport},
        {"drop-incomplete", no_argument, nullptr, kDropIncomplete},
        {"cut", required_argument, nullptr, kCut},
        {"parallel", required_argument, nullptr, kParallel},
        {"quantile", required_argument, nullptr, kQuantile},
        {"skip", required_argument, nullptr, kSkip},
        {"columns", required_argument, nullptr, kColumns},
        {"input", required_argument, nullptr, kInput},
        {"rows", required_argument, nullptr, kRows},
        {"mean", required_argument, nullptr, kMean},
        {"std", required_argument, nullptr, kStd},
        {"cor", required_argument, nullptr, kCor},
        {"no-smooth", no_argument, nullptr, kNoSmooth},
        {"ordinal", required_argument, nullptr, kOrdinal},
        {"max-categories", required_argument, nullptr, kMaxCategories},
        {"missing", required_argument, nullptr, kMissing},
        {"scale", required_argument, nullptr, kScale},
        {"reliability", required_argument, nullptr, kReliability},
        {"moments", required_argument, nullptr, kMoments},
        {"progress", no_argument, nullptr, kProgress},
        {"no-progress", no_argument, nullptr, kNoProgress},
    };
    std::vector<option> long_options(std::begin(kOwn), std::end(kOwn));
    long_options.insert(long_options.end(), std::begin(kTableOptions), std::end(kTableOptions));
    long_options.push_back({nullptr, 0, nullptr, 0});
    const option* kLong = long_options.data();
    Options options;
    optind = 0;  // a full restart of getopt, for callers that run twice
    opterr = 0;
    int option;
    while ((option = getopt_long(argc, argv, ":o:k:qh", kLong, nullptr)) != -1) {
        switch (option) {
        case 'o': options.output = optarg; break;
        case 'k': factor_rule(options, optarg); break;
        case 'q': options.quiet = true; break;
        case kVarimax: options.rotation = find_rotation("varimax"); break;
        case kCovariance: options.covariance = true; break;
        case kMethod: options.method = named<ExtractionMethod>(optarg, find_extraction, "method"); break;
        case kRotate: options.rotation = named<RotationMethod>(optarg, find_rotation, "rotation"); break;
        case kScores: options.scores = named<ScoreMethod>(optarg, find_scores, "score type"); break;
        case kPromaxPower: {
            char* end = nullptr;
            const double power = std::strtod(optarg, &end);
            if (end == optarg || *end != '\0' || !(power >= 1 && power <= 100))
                throw UsageError{std::string("invalid promax power '") + optarg + "' (from 1 to 100)"};
            options.rotation_settings.promax_power = power;
            break;
        }
        case kGeominDelta: {
            char* end = nullptr;
            const double delta = std::strtod(optarg, &end);
            if (end == optarg || *end != '\0' || !(delta > 0 && std::isfinite(delta)))
                throw UsageError{std::string("invalid geomin delta '") + optarg + "' (a number above 0)"};
            options.rotation_settings.geomin_delta = delta;
            break;
        }
        case kGamma: {
            char* end = nullptr;
            const double gamma = std::strtod(optarg, &end);
            if (end == optarg || *end != '\0' || !std::isfinite(gamma))
                throw UsageError{std::string("invalid oblimin gamma '") + optarg + "'"};
            options.rotation_settings.oblimin_gamma = gamma;
            break;
        }
        case kTarget: options.target = optarg; break;
        case kNormalize: options.rotation_settings.normalize = true; break;
        case kRotationStarts:
            options.rotation_settings.starts =
                static_cast<int>(whole_number(optarg, 1, 100000, "number of rotation starts"));
            break;
        case kCut: {
            char* end = nullptr;
            const double cut = std::strtod(optarg, &end);
            if (end == optarg || *end != '\0' || !(cut >= 0 && std::isfinite(cut)))
                throw UsageError{std::string("invalid cut '") + optarg + "' (a number from 0)"};
            options.cut = cut;
            break;
        }
        case kParallel: options.parallel = named<ParallelKind>(optarg, find_parallel, "parallel analysis"); break;
        case kQuantile: {
            char* end = nullptr;
            const double quantile = std::strtod(optarg, &end);
            if (end == optarg || *end != '\0' || !(quantile > 0 && quantile < 1))
                throw UsageError{std::string("invalid quantile '") + optarg + "' (above 0 and below 1)"};
            options.quantile = quantile;
            break;
        }
        case kReplicates:
            options.replicates = static_cast<int>(whole_number(optarg, 1, 1000000, "number of replicates"));
            break;
        case kSeed: options.seed = static_cast<std::uint64_t>(whole_number(optarg, 0, INT64_MAX, "seed")); break;
        case kJson: options.json = optarg; break;
        case kReport:
            if (std::string_view(optarg).empty() || std::string_view(optarg) == "-")
                throw UsageError{"--report needs a file name"};
            options.report = optarg;
            break;
        case kCor: options.cor = named<CorrelationType>(optarg, find_correlation, "correlation type"); break;
        case kNoSmooth: options.correlation.smooth = false; break;
        case kOrdinal:
            if (std::string_view(optarg).empty() || std::string_view(optarg).find(",,") != std::string_view::npos ||
                optarg[0] == ',' || std::string_view(optarg).back() == ',')
                throw UsageError{std::string("invalid ordinal list '") + optarg + "'"};
            options.correlation.ordinal = optarg;
            break;
        case kMaxCategories:
            options.correlation.max_categories = static_cast<int>(whole_number(optarg, 2, 32, "number of categories"));
            break;
        case kScale: try { options.scales.push_back(scale_words(optarg));
            } catch (const FitError& wrong) {
                throw UsageError{std::string("--scale: ") + wrong.what()};
            }
            break;
        case kReliability: read_scales(optarg, options.scales); break;
        case kMoments: options.moments = optarg; break;
        case kProgress: options.progress = ProgressMode::on; break;
        case kNoProgress: options.progress = ProgressMode::off; break;
        case kDropIncomplete: missing_mode(options, "listwise"); break;
        case kMissing: missing_mode(options, optarg); break;
        case kSkip: options.skip = whole_number(optarg, 0, INT64_MAX, "number of lines to skip"); break;
        case kColumns:
            // The fields not chosen are labels, which only a table has.
            if (std::string_view(optarg).empty() || std::string_view(optarg).find(",,") != std::string_view::npos ||
                optarg[0] == ',' || std::string_view(optarg).back() == ',')
                throw UsageError{std::string("invalid column list '") + optarg + "'"};
            options.columns = optarg;
            options.format.table = true;
            break;
        case kInput: {
            const char* const kinds[] = {"data", "correlation", "covariance"};
            const auto kind = std::find_if(std::begin(kinds), std::end(kinds),
                                           [](const char* known) { return std::string_view(optarg) == known; });
            if (kind == std::end(kinds))
                throw UsageError{std::string("invalid input '") + optarg + "' (data, correlation or covariance)"};
            options.input = *kind;
            break;
        }
        case kRows: options.rows = whole_number(optarg, 2, INT64_MAX, "number of rows"); break;
        case kMean: options.mean = optarg; break;
        case kStd: options.std = optarg; break;
        case 'h': std::fputs(kHelp, stdout); return std::nullopt;
        case kVersion: std::puts("scorix-fit (Scorix) " SCORIX_VERSION); return std::nullopt;
        default:
            if (option >= kTableOptionCodes) {
                if (std::string problem = apply_table_option(options.format, option, optarg); !problem.empty())
                    throw UsageError{problem};
                break;
            }
            throw UsageError{rejected_option(option, argv[optind - 1])};
        }
    }
    if (options.rotation->takes_target && !options.target)
        throw UsageError{std::string("--rotate=") + options.rotation->name + " needs --target=FILE"};
    options.rotation_settings.seed = options.seed;
    if (options.covariance && options.cor->matrix)
        throw UsageError{std::string("--cor=") + options.cor->name +
                         " makes a correlation matrix: leave out --covariance"};
    if (!options.cor->detects && (options.correlation.ordinal || options.correlation.max_categories))
        throw UsageError{std::string(options.correlation.ordinal ? "--ordinal" : "--max-categories") +
                         " goes with --cor=mixed"};
    for (int i = optind; i < argc; ++i)
        options.files.emplace_back(argv[i]);
    if (options.files.empty())
        throw UsageError{"no data file"};
    check_matrix_input(options);
    // The options of the fit alone (-k, --method, -o, --json...) are taken
    // and left unused with --moments, as a later fit of the file uses them.
    if (options.moments && options.matrix_input())
        throw UsageError{std::string("--moments: --input=") + options.input +
                         " is a matrix taken whole, not rows to stream"};
    if (options.moments && options.cor->keeps_rows)
        throw UsageError{std::string("--moments: --cor=") + options.cor->name +
                         " keeps every row, which a moment file does not hold"};
    // Standard input is read once: a second '-' would add no rows.
    if (std::count(options.files.begin(), options.files.end(), "-") > 1)
        throw UsageError{"standard input ('-') named more than once"};
    // Data from standard input have no name to give the coefficients.
    const bool output_given = options.output.has_value();
    if (!output_given && options.files.front() == "-")
        options.output = "-";
    if (options.json && *options.json == "-" && options.output == "-")
        throw UsageError{output_given ? "--json=- and -o - cannot both write to standard output"
                                      : "--json=- and the coefficients of data from standard input cannot both "
                                        "write to standard output; name an output file with -o"};
    // The later of two outputs to one file would take the other's place.
    const std::string name = options.output.value_or(output_name(options.files.front(), ".fsc"));
    if (options.json && *options.json != "-" && name != "-" && same_file(*options.json, name))
        throw UsageError{"--json=" + *options.json + " and the coefficient file " + name + " are the same file"};
    if (options.report)
        for (const auto& [other, what] :
             {std::pair(name, "the coefficient file "), std::pair(options.json.value_or("-"), "the JSON report ")})
            if (other != "-" && same_file(*options.report, other))
                throw UsageError{"--report=" + *options.report + " and " + what + other + " are the same file"};
    if (options.target && options.rotation->takes_target)
        options.rotation_settings.target = read_target(*options.target);
    return options;
}