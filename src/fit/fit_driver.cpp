#include "fit/fit_driver.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/LU>
#include <getopt.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/parallel.h"
#include "fit/fit_json.h"
#include "fit/fit_report.h"
#include "fit/linear_algebra.h"
#include "read/byte_stream.h"
#include "read/data_file.h"
#include "read/table_format.h"
#include "read/text_input.h"
#include "write/atomic_file.h"
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
      --method=METHOD  pc: principal components (default); pa: principal
                       axis factoring; ml: maximum likelihood
      --rotate=NAME    none (default), varimax, quartimax, promax, oblimin
      --varimax        the same as --rotate=varimax
      --promax-power=M the power of promax (default 4)
      --scores=TYPE    the score coefficients of the factors: regression
                       (default) or bartlett
  -k, --factors=K      how many factors: a number, kaiser (default: the
                       eigenvalues of at least 1), parallel (parallel
                       analysis) or map (minimum average partial)
      --replicates=N   simulated data sets of parallel analysis (default 100)
      --seed=N         the seed of its random numbers (default 1)
      --json=FILE      also write the whole report as JSON ('-': standard
                       output)
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
      --decimal=,      decimal commas (with --delimiter=';', say)
  -q, --quiet          no table of eigenvalues
  -h, --help           display this help and exit
      --version        output version information and exit

A data row is a line of numbers separated by white space (words after them
are ignored; a number that runs into other text, as in "1.5,2", is an error);
lines starting with '#', '!' or ';' are comments. A DATA file '-' is
standard input; compressed files are read as they are. Exit status: 0 on
success, 1 on bad input or a failed write, 2 on a bad command line.
)";

// A command line that cannot be run; the text says why.
struct UsageError {
    std::string text;
};

enum LongOnly {
    kDropIncomplete = 255,
    kVarimax = 256,
    kCovariance,
    kVersion,
    kMethod,
    kRotate,
    kPromaxPower,
    kScores,
    kReplicates,
    kSeed,
    kJson
};

// How -k chooses the number of factors.
enum class FactorRule { kCount, kKaiser, kParallel, kMap };

struct Options {
    bool covariance = false;            // --covariance: the covariance matrix, not the correlation matrix
    int factors = 0;                    // -k with a number
    std::optional<std::string> output;  // -o; "-" is standard output
    bool quiet = false;                 // -q: no table
    std::vector<std::string> files;     // the data files, in order
    const ExtractionMethod* method = find_extraction("pc");
    const RotationMethod* rotation = find_rotation("none");
    const ScoreMethod* scores = find_scores("regression");
    FactorRule rule = FactorRule::kKaiser;
    RotationSettings rotation_settings;
    int replicates = 100;             // --replicates
    std::uint64_t seed = 1;           // --seed
    std::optional<std::string> json;  // --json; "-" is standard output
    TableFormat format;               // --csv, --header, ...
    bool drop_incomplete = false;     // --drop-incomplete

    // The plain components, or their varimax: the coefficients of earlier
    // versions, byte for byte, by the components' orientation policy.
    bool components_only() const
    {
        return method->components && scores->component_coefficients && rotation->component_coefficients &&
               (rule == FactorRule::kCount || rule == FactorRule::kKaiser);
    }
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
    const std::string_view word = text;
    if (word == "kaiser")
        options.rule = FactorRule::kKaiser;
    else if (word == "parallel")
        options.rule = FactorRule::kParallel;
    else if (word == "map")
        options.rule = FactorRule::kMap;
    else {
        options.rule = FactorRule::kCount;
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

// Returns nothing when --help or --version has been answered.
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
        {"scores", required_argument, nullptr, kScores},
        {"replicates", required_argument, nullptr, kReplicates},
        {"seed", required_argument, nullptr, kSeed},
        {"json", required_argument, nullptr, kJson},
        {"drop-incomplete", no_argument, nullptr, kDropIncomplete},
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
        case kReplicates:
            options.replicates = static_cast<int>(whole_number(optarg, 1, 1000000, "number of replicates"));
            break;
        case kSeed: options.seed = static_cast<std::uint64_t>(whole_number(optarg, 0, INT64_MAX, "seed")); break;
        case kJson: options.json = optarg; break;
        case kDropIncomplete: options.drop_incomplete = options.format.table = true; break;
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
    for (int i = optind; i < argc; ++i)
        options.files.emplace_back(argv[i]);
    if (options.files.empty())
        throw UsageError{"no data file"};
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
    return options;
}

std::string place(const std::string& path, long long line)
{
    return path + ":" + std::to_string(line) + ": ";
}

// A number that runs straight into other text, as in "14.23,1.71" or "1,5",
// where a word after white space would be a label. scorix reads such a line
// as its first number and warns; a fit from it would be a fit of the wrong
// variables, so it is an error here. `stop` is where the line's numbers end
// (readline gives it). Returns the message, or "" for a line whose numbers
// end at white space or at its end.
std::string glued_number(std::string_view line, std::size_t stop)
{
    line = line.substr(0, line.find_last_not_of(" \t\n\v\f\r") + 1);
    if (stop == 0 || stop >= line.size() || std::isspace(static_cast<unsigned char>(line[stop])))
        return "";
    // The line is shown up to the field after the separator and the next
    // separator, "14.23,1.71,...".
    const char separator = line[stop];
    std::size_t shown = std::min(line.find_first_of(std::string(" \t\v\f\r") + separator, stop + 1), line.size());
    if (shown < line.size() && line[shown] == separator)
        ++shown;
    std::string excerpt(line.substr(0, std::min<std::size_t>(shown, 60)));
    if (excerpt.size() < line.size())
        excerpt += "...";
    std::replace_if(
        excerpt.begin(), excerpt.end(), [](char c) { return c >= 0 && c < ' '; }, '?');
    std::string text = "\"" + excerpt + "\": a number runs into \"" + std::string(1, separator) + "\"";
    if (separator == ',' || separator == ';')
        text += std::string("; is the file ") + (separator == ',' ? "comma" : "semicolon") + "-separated?";
    return text;
}

// One block of rows on its way from its lines to its moments.
struct FitBlock {
    LineBlock lines;
    std::vector<double> values;
    // The moments of the kept rows, when no row was left out.
    std::optional<Moments> moments;
    int bad_row = -1;     // the first row that cannot be used
    int bad_field = 0;    // and its field (from 1), if one is to blame
    std::string problem;  // and why
    int dropped = 0;      // rows left out for a missing value
    int kept = 0;         // rows to use, the first ones of `values`
    bool out_of_memory = false;
};

// How the rows of the files are read, and what a row with a missing value
// does.
struct RowRules {
    const TableFormat* format = nullptr;  // a table, or nothing: runs of numbers
    bool drop_incomplete = false;
    int variables = 0;
    std::string first_row;
    std::string counted_by;  // what fixed the count: "the first data row (FILE:LINE) has"
};

// The field of a line, for an error text: as it stands, cut short.
std::string field_shown(const TableFormat& format, std::string_view line, int field)
{
    std::vector<std::string> fields = RowReader(format).names(line);
    std::string text = field >= 1 && field <= static_cast<int>(fields.size()) ? fields[field - 1] : "";
    if (text.size() > 40)
        text = text.substr(0, 40) + "...";
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c >= 0 && c < ' '; }, '?');
    return text;
}

// The first value of the row that is not a finite number, or "".
std::string not_finite(const double* row, int variables)
{
    for (int i = 0; i < variables; ++i)
        if (!std::isfinite(row[i]))
            return "value " + std::to_string(i + 1) + " is " +
                   (std::isnan(row[i]) ? "nan"
                    : row[i] > 0       ? "inf"
                                       : "-inf") +
                   ", not a finite number" + (std::isnan(row[i]) ? " (a missing value? --na=nan)" : "");
    return "";
}

// A table row: its problem (with the field in block.bad_field), or "" for a
// row to use, or "drop" for one to leave out.
std::string table_row_problem(FitBlock& block, RowReader& reader, const RowRules& rules, std::string_view line,
                              double* row)
{
    const RowFields found = reader.read(line, row, rules.variables, nullptr, nullptr);
    if (found.bad_field >= 0 && (rules.format->delimiter || found.glued)) {
        block.bad_field = found.bad_field;
        std::string problem(1, '"');
        problem += field_shown(*rules.format, line, found.bad_field);
        return problem + "\" is not a number";
    }
    // A short row's values are missing, unless a word ended them.
    if (found.count > rules.variables || (found.count < rules.variables && found.bad_field >= 0))
        return std::to_string(found.count) + " values, but " + rules.counted_by + " " + std::to_string(rules.variables);
    if (found.missing && rules.drop_incomplete)
        return "drop";
    if (found.missing) {
        block.bad_field = found.first_missing;
        return "a missing value (--drop-incomplete leaves out the rows that have one)";
    }
    return not_finite(row, rules.variables);
}

// What is wrong with a row of `count` values, whose numbers end at `stop`
// of `line`, or nothing.
std::string row_problem(std::string_view line, const double* row, int count, std::size_t stop, int variables,
                        const std::string& counted_by)
{
    if (line.find_last_not_of(" \t\n\v\f\r") == std::string_view::npos)
        return "empty line (scorix would read it as a row of zeros)";
    if (std::string glued = glued_number(line, stop); !glued.empty())
        return glued;
    if (count == 0)
        return "no number at the start of the line (a header? mark it as a comment with '#')";
    if (count != variables)
        return std::to_string(count) + " values, but " + counted_by + " " + std::to_string(variables);
    return not_finite(row, variables);
}

// Converts and checks the rows of a block (any thread) and takes their
// moments; a block stops at its first bad row.
void convert_rows(FitBlock& block, const RowRules& rules)
{
    const int variables = rules.variables;
    block.bad_row = -1;
    block.bad_field = 0;
    block.dropped = 0;
    block.kept = 0;
    block.values.resize(static_cast<std::size_t>(block.lines.rows()) * variables);
    std::optional<RowReader> reader;
    if (rules.format)
        reader.emplace(*rules.format);
    int kept = 0;
    for (int r = 0; r < block.lines.rows(); ++r) {
        double* row = block.values.data() + static_cast<std::size_t>(kept) * variables;
        if (reader) {
            block.problem = table_row_problem(block, *reader, rules, block.lines.line(r), row);
        } else {
            std::size_t stop = 0;
            const int count = readline(block.lines.line(r), row, variables, nullptr, &stop);
            block.problem = row_problem(block.lines.line(r), row, count, stop, variables, rules.counted_by);
        }
        if (block.problem == "drop") {
            ++block.dropped;
            continue;
        }
        if (!block.problem.empty()) {
            block.bad_row = r;
            return;
        }
        ++kept;
    }
    block.kept = kept;
    // A block that only tells of a read error, or that left out rows: those
    // it kept do not make a chunk of their own (RowPool::take_rows).
    if (kept == 0 || block.dropped > 0)
        return;
    // A block's moments are kept with it: a new one each time would take
    // fresh pages for its work space (as many page faults as rows).
    if (block.moments)
        block.moments->reset();
    else
        block.moments.emplace(variables);
    block.moments->add(block.values.data(), kept);
}

// Gathers the moments of the rows of every file. Each file is read once in
// blocks: the calling thread reads, any thread converts a block and takes
// its moments, and the calling thread merges them in file order, so the
// result has the same bits for any number of threads. The first data row
// fixes the number of variables.
//
// The moments are taken over chunks of the rows used: the first one of the
// run alone, then block_rows at a time from the start of each file. A
// block of lines without a left out row is such a chunk, and its moments
// come from the worker; rows after a left out one no longer fall on the
// blocks' boundaries, and wait here until a chunk is full. So the fit
// depends on the rows used alone, not on those --drop-incomplete left out.
class RowPool {
public:
    explicit RowPool(const Options& options)
    {
        if (options.format.table)
            rules_.format = &options.format;
        rules_.drop_incomplete = options.drop_incomplete;
    }
    void read(const std::string& path);
    long long rows() const { return moments_ ? moments_->rows() : 0; }
    const Moments& moments() const { return *moments_; }
    // The variables' names from the header of the first file, if any.
    const std::vector<std::string>& names() const { return names_; }
    long long dropped() const { return dropped_; }

private:
    // The number of variables from the first file's header or first row.
    void learn_variables(const DataReader& reader, const LineBlock& lines, const std::string& path);
    // Takes the kept rows of the next block into the chunks (calling thread).
    void take_rows(const FitBlock& block);
    // Takes the moments of the first `count` waiting rows.
    void take_waiting(long long count);

    std::optional<Moments> moments_;
    // Kept rows short of a whole chunk, and the scratch of take_waiting.
    std::vector<double> waiting_;
    std::optional<Moments> chunk_;
    int variables_ = -1;  // unknown before the first data row
    RowRules rules_;
    std::vector<std::string> names_;
    long long dropped_ = 0;
};

void RowPool::learn_variables(const DataReader& reader, const LineBlock& lines, const std::string& path)
{
    std::vector<std::string> names;
    if (rules_.format && rules_.format->header) {
        RowReader words(*rules_.format);
        const std::vector<std::string> fields = words.names(reader.header());
        for (std::size_t i = 0; i < fields.size(); ++i)
            if (!rules_.format->is_label(static_cast<int>(i)))
                names.push_back(fields[i]);
        if (variables_ >= 0 && names != names_)
            throw FitError(place(path, reader.header_line()) + "the names differ from those of " +
                           rules_.first_row.substr(0, rules_.first_row.rfind(':')));
    }
    if (variables_ >= 0 || lines.rows() == 0)
        return;
    names_ = names;
    rules_.first_row = path + ":" + std::to_string(line_number(lines, 0));
    rules_.counted_by = "the first data row (" + rules_.first_row + ") has";
    if (!rules_.format) {
        variables_ = checkline(lines.line(0));
    } else if (rules_.format->header) {
        variables_ = static_cast<int>(names.size());
        rules_.counted_by = "the header (" + path + ":" + std::to_string(reader.header_line()) + ") names";
    } else {
        RowReader counter(*rules_.format);
        variables_ = counter.read(lines.line(0), nullptr, 0, nullptr, nullptr).count;
    }
    rules_.variables = variables_;
    // With every field a label, or words where numbers were looked for,
    // there is nothing to fit (a plain row without numbers is told by its
    // check).
    if (variables_ == 0 && rules_.format)
        throw FitError(rules_.first_row +
                       ": no variables: the first data row has no value fields (only labels, or words)");
}

void RowPool::take_waiting(long long count)
{
    const auto values = static_cast<std::size_t>(count) * static_cast<std::size_t>(variables_);
    if (!chunk_)
        chunk_.emplace(variables_);
    chunk_->reset();
    chunk_->add(waiting_.data(), static_cast<int>(count));
    if (moments_)
        moments_->merge(*chunk_);
    else
        moments_ = chunk_;
    waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(values));
}

void RowPool::take_rows(const FitBlock& block)
{
    // The first chunk of the run is one row; every later one block_rows.
    auto chunk = [&] { return moments_ ? block_rows(variables_) : 1LL; };
    if (block.kept == 0)
        return;
    if (waiting_.empty() && block.kept == chunk() && block.dropped == 0) {
        if (moments_)
            moments_->merge(*block.moments);
        else
            moments_ = block.moments;
        return;
    }
    const std::size_t width = static_cast<std::size_t>(variables_);
    waiting_.insert(waiting_.end(), block.values.begin(),
                    block.values.begin() + static_cast<std::ptrdiff_t>(block.kept * width));
    while (static_cast<long long>(waiting_.size() / width) >= chunk())
        take_waiting(chunk());
}

void RowPool::read(const std::string& path)
{
    // A compressed data file is decompressed as scorix does it.
    ByteStream file = ByteStream::open(path.c_str());
    if (!file.is_open())
        throw FitError(path + ": " + std::strerror(errno));
    const bool compressed = file.compressed();
    const int threads = thread_count();
    DataReader reader(std::move(file), 0, path.c_str(), threads);
    if (rules_.format)
        reader.expect_table(*rules_.format);
    bool names_checked = false;
    std::vector<FitBlock> blocks(threads == 1 ? 1 : static_cast<std::size_t>(threads) + 2);
    const FitBlock* failed = nullptr;
    PipelineSteps steps;
    steps.read = [&](int slot) {
        LineBlock& lines = blocks[static_cast<std::size_t>(slot)].lines;
        // Until the number of variables is known, blocks of one row; then
        // blocks of block_rows rows, so that the fit depends on the rows
        // alone.
        if (!reader.read_lines(lines, variables_ < 0 ? 1 : static_cast<int>(block_rows(variables_)), true))
            return false;
        if (!names_checked || variables_ < 0) {
            learn_variables(reader, lines, path);
            names_checked = true;
        }
        return true;
    };
    steps.work = [&](int slot) {
        FitBlock& block = blocks[static_cast<std::size_t>(slot)];
        try {
            convert_rows(block, rules_);
        } catch (const std::bad_alloc&) {
            block.out_of_memory = true;  // told by the calling thread
        }
    };
    steps.write = [&](int slot) {
        const FitBlock& block = blocks[static_cast<std::size_t>(slot)];
        if (block.bad_row >= 0 || block.lines.failed || block.lines.open_quote || block.out_of_memory) {
            failed = &block;
            return false;
        }
        dropped_ += block.dropped;
        take_rows(block);
        return true;
    };
    run_pipeline(threads, static_cast<int>(blocks.size()), steps);
    // The last chunk of a file is what is left of it.
    if (!failed && !waiting_.empty())
        take_waiting(static_cast<long long>(waiting_.size() / static_cast<std::size_t>(variables_)));
    if (failed && failed->out_of_memory)
        throw std::bad_alloc();
    // Damaged compressed data can make wrong lines before the check at the
    // end of the stream fails: the damage is what to report.
    if (failed && failed->bad_row >= 0 && reader.damaged_rest())
        throw FitError(path + ": read error: compressed data damaged or cut short");
    if (failed && failed->bad_row >= 0)
        throw FitError(path + ":" + std::to_string(line_number(failed->lines, failed->bad_row)) +
                       (failed->bad_field ? ":" + std::to_string(failed->bad_field) : "") + ": " + failed->problem);
    if (failed && !failed->lines.failed && failed->lines.open_quote)
        throw FitError(place(path, failed->lines.open_quote) + "a quote that is not closed before the end of the file");
    if (failed && compressed)
        throw FitError(path + ": read error: compressed data damaged or cut short");
    if (failed)
        throw FitError(path + ": read error" +
                       (failed->lines.cause ? std::string(": ") + std::strerror(failed->lines.cause) : ""));
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

// The number of factors the options ask for, in the settings of the
// options, with the figures of the count.
FactorReport counted_factors(const Fit& base, const Options& options, long long rows)
{
    FactorReport report;
    int k = options.factors;
    switch (options.rule) {
    case FactorRule::kCount: break;
    // Every count reads the correlation matrix, with --covariance too, so
    // that it does not depend on the variables' units.
    case FactorRule::kKaiser: k = kaiser_factors(base.correlation_eigenvalues); break;
    case FactorRule::kParallel:
        report.parallel = parallel_analysis(base.correlation_eigenvalues, rows, options.replicates, options.seed);
        report.replicates = options.replicates;
        report.seed = options.seed;
        k = std::max(1, report.parallel->factors);
        break;
    case FactorRule::kMap:
        report.map = minimum_average_partial(correlation(base.analysed));
        k = report.map->factors;
        break;
    }
    report.settings = {options.method, options.rotation, options.scores, k, options.rotation_settings, options.seed};
    return report;
}

// The figures that judge the solution of the report's settings.
void add_figures(FactorReport& report, const Fit& base, long long rows)
{
    const Eigen::MatrixXd r = correlation(base.analysed);
    report.kmo = sampling_adequacy(r);
    report.sphericity = sphericity(r, rows);
    if (report.settings.method->fit_statistics)
        report.fit = model_fit(r, rows, report.settings.factors, report.solution.extraction.objective);
}

int fit_files(const Options& options)
{
    RowPool pool(options);
    for (const std::string& path : options.files)
        pool.read(path);
    if (pool.rows() < 2)
        throw FitError(options.files.back() + ": a fit needs at least 2 data rows, found " +
                       std::to_string(pool.rows()));
    const bool components = options.components_only();
    Fit result = analyse(pool.moments(), options.covariance);
    // A count the components cannot have is said first, as --varimax says it.
    if (const auto n = static_cast<int>(result.eigenvalues.size());
        components && (!options.json || options.rotation->rotates) && options.rule == FactorRule::kCount &&
        options.factors > n)
        throw FitError(std::to_string(options.factors) + " factors asked for, but there are only " + std::to_string(n) +
                       " variables");
    FactorReport counted = counted_factors(result, options, pool.rows());
    if (components)
        turn_components(result, counted.settings);
    std::optional<FactorReport> factors;
    try {
        factors = std::move(counted);
        // The components' report without a JSON report is of the components
        // before their rotation (the communalities do not change under one).
        // The components' signs are those of the coefficient file, whose
        // loadings are the correlations with the scores scorix computes; a
        // factor model's coefficients are its own weights, signed by its rule.
        if (components && !options.json)
            factors->settings.rotation = &no_rotation();
        const bool same_factors = components && factors->settings.rotation == options.rotation;
        factors->solution =
            factor_solution(result.analysed, factors->settings, same_factors ? &result.loadings : nullptr);
        add_figures(*factors, result, pool.rows());
    } catch (const FitError&) {
        // The components alone need no more than their decomposition: their
        // communalities and adequacy figures are left out when the factor
        // model fails (a matrix too near singular for its inverse).
        if (!components || options.json)
            throw;
        factors.reset();
    }
    if (factors) {
        factors->in_coefficients = !components;
        if (!components)
            use_weights(result, factors->solution);
        // A component's uniqueness is no estimate, what it leaves out: no
        // Heywood warning for components, rotated or not (the JSON report
        // still lists the variables). Maximum likelihood holds a uniqueness
        // at its bound; the other methods have none, a uniqueness there is
        // near or below zero.
        if (const std::vector<int>& heywood = factors->solution.heywood;
            !heywood.empty() && !options.method->components) {
            std::string variables, values;
            for (const int i : heywood) {
                char value[40];
                std::snprintf(value, sizeof value, "%s%g", values.empty() ? "" : ", ",
                              factors->solution.uniquenesses[i]);
                variables += (variables.empty() ? "" : ", ") + std::to_string(i + 1);
                values += value;
            }
            char bound[48];
            std::snprintf(bound, sizeof bound, "%g of the variance", kLeastUniqueness);
            const std::string note = options.method->bounded ? std::string("the bound of maximum likelihood, ") + bound
                                                             : std::string("at most ") + bound + "; " +
                                                                   options.method->description + " has no bound";
            const bool one = heywood.size() == 1;
            std::fprintf(stderr, "scorix-fit: warning: Heywood case: variable%s %s ha%s uniqueness%s %s (%s)\n",
                         one ? "" : "s", variables.c_str(), one ? "s" : "ve", one ? "" : "es", values.c_str(),
                         note.c_str());
        }
        if (!factors->solution.extraction.converged)
            std::fprintf(stderr, "scorix-fit: warning: maximum likelihood did not converge: no start reached a "
                                 "projected gradient within 1e-8; the factors are those of its best start\n");
    }
    // A rotation stopped at its step cap is still a rotation of the same
    // factors, and the scores stay invertible, but it is not the one its
    // criterion asks for: said, as R's rotations say it, and the JSON report
    // has "converged": false.
    const bool converged = components ? result.converged : factors->solution.rotation.converged;
    if (!converged)
        std::fprintf(stderr,
                     "scorix-fit: warning: the %s rotation did not converge in %d iterations; the factors are "
                     "those of its last iteration\n",
                     options.rotation->name, components ? result.iterations : factors->solution.rotation.iterations);
    const FitSource source{options.files, pool.rows(), pool.names(),
                           options.drop_incomplete ? std::optional<long long>(pool.dropped()) : std::nullopt};
    const std::string name = options.output.value_or(output_name(options.files.front(), ".fsc"));
    const FactorReport* report = factors ? &*factors : nullptr;
    std::vector<std::pair<std::string, std::string>> outputs;
    if (options.json)
        outputs.emplace_back(*options.json, json_report(result, options.covariance, source, *factors));
    outputs.emplace_back(name, coefficient_text(result, options.covariance, source, report));
    write_outputs(outputs, options.quiet ? "" : eigenvalue_table(result, options.covariance, source, report),
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
        if (options)
            return fit_files(*options);
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
