#include "score/driver.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include <getopt.h>

#include "common/allocation.h"
#include "common/console.h"
#include "common/parallel.h"
#include "common/progress.h"
#include "read/data_file.h"
#include "read/number_scanner.h"
#include "score/coefficient_file.h"
#include "score/matinv.h"
#include "score/numerics.h"
#include "score/score_selection.h"
#include "score/usage.h"
#include "write/atomic_file.h"
#include "write/invocation_log.h"
#include "write/output_writer.h"

const char* const Version = "Scorix Version 1.12 09/04/03 18:45:55 Build: 1, by the Scorix developers";

namespace {

constexpr const char* kShortOptions = "?AB:E:F:GHIMS:QXab:e:f:ghims:qx";
constexpr const char* kScoreListCharacters = "0123456789-, ";

void screen_score_list(const char* list)
{
    if (std::strspn(list, kScoreListCharacters) != std::strlen(list)) {
        message("Option -b: the list \"%s\" holds illegal characters; only digits, '-', ',' and ' ' may stand in it.\n",
                list);
        error("%s", "");
    }
}

std::string extension_from(const char* argument)
{
    return argument[0] == '.' ? std::string(argument) : std::string(".") + argument;
}

// The leading decimal integer, as atoi reads it; 0 or less means the default.
int score_count_from(const char* argument)
{
    int count = static_cast<int>(std::strtol(argument, nullptr, 10));
    return count <= 0 ? kDefaultScores : count;
}

void act_on_option(RunState& state, int option, const char* program_path)
{
    switch (option) {
    case 'a': state.options.scores = -1; break;
    case 'b':
        screen_score_list(optarg);
        state.options.flagline = optarg;
        break;
    case 'e': state.options.EXT = extension_from(optarg); break;
    case 'f': state.options.fscname = optarg; break;
    case 'g': state.options.global = 1; break;
    case 'i': state.options.reverse = 1; break;
    case 'm': state.options.add_mean_to_output = 0; break;
    case 'n': state.options.sub_mean_from_input = 0; break;
    case 'q': state.options.quiet = 1; break;
    case 's': state.options.scores = score_count_from(optarg); break;
    case 'x': state.options.allow_fewer_scores = 1; break;
    case 'h':
    case '?': usage(state.options, program_path);
    default: break;  // a long option that set its flag itself
    }
}

// The table options (--csv, --delimiter=C, ...) by their full names, or -1.
int table_option(const char* word, const char*& argument)
{
    for (const option& table : kTableOptions) {
        const std::size_t length = std::strlen(table.name);
        if (std::strncmp(word, "--", 2) != 0 || std::strncmp(word + 2, table.name, length) != 0)
            continue;
        const char* rest = word + 2 + length;
        if ((table.has_arg == no_argument && *rest == '\0') || (table.has_arg == required_argument && *rest == '=')) {
            argument = *rest ? rest + 1 : nullptr;
            return table.val;
        }
    }
    return -1;
}

// Takes the table options out before the command line's own options are
// parsed: they go by their full names only (with "=" for an argument), so
// that every abbreviation of the others keeps its meaning ("--he" is
// --help). They are moved behind the rest of argv, which keeps them for
// the log line; returns the count of the rest.
int take_table_options(RunState& state, int argc, char** argv)
{
    char** const end =
        std::find_if(argv + 1, argv + argc, [](const char* word) { return std::strcmp(word, "--") == 0; });
    const char* argument = nullptr;
    char** const taken =
        std::stable_partition(argv + 1, end, [&](const char* word) { return table_option(word, argument) < 0; });
    for (char** word = taken; word != end; ++word) {
        const int code = table_option(*word, argument);
        const std::string problem = apply_table_option(state.options.format, code, argument);
        if (!problem.empty())
            error("Error %s %d:%s\n", kErrorLabel, 660, problem.c_str());
    }
    std::rotate(taken, end, argv + argc);
    return argc - static_cast<int>(end - taken);
}

// Parses the options into `state`; the usage screen ends the process for
// help and rejected options. Returns the index of the first operand.
int parse_options(RunState& state, int argc, char** argv)
{
    const option long_opts[] = {
        {"all", no_argument, nullptr, 'a'},
        {"include-scores", required_argument, nullptr, 'b'},
        {"debug", no_argument, &state.options.debug, 1},
        {"extension", required_argument, nullptr, 'e'},
        {"fsc-file", required_argument, nullptr, 'f'},
        {"no-mean-output", no_argument, nullptr, 'm'},
        {"no-mean-input", no_argument, nullptr, 'n'},
        {"global", no_argument, nullptr, 'g'},
        {"inverse", no_argument, nullptr, 'i'},
        {"quiet", no_argument, nullptr, 'q'},
        {"silence", no_argument, nullptr, 'q'},
        {"scores", required_argument, nullptr, 's'},
        {"allow_fewer_scores", no_argument, nullptr, 'x'},
        {"help", no_argument, nullptr, '?'},
        {"more", no_argument, &state.options.more, 1},
        {"progress", no_argument, &state.options.progress, 1},
        {"no-progress", no_argument, &state.options.progress, 0},
        {nullptr, 0, nullptr, 0},
    };
    int option;
    while ((option = getopt_long(argc, argv, kShortOptions, long_opts, nullptr)) != -1)
        act_on_option(state, std::tolower(option), argv[0]);
    return optind;
}

void dump_matrix(const RunState& state)
{
    message("fsc matrix after inverse:\n");
    const double* fsc = state.coefficients.fsc->data();
    for (int r = 0; r < state.coefficients.datacols; ++r) {
        for (int c = 0; c < state.coefficients.datacols; ++c)
            message(" % .5e", fsc[static_cast<std::size_t>(r) * state.coefficients.datacols + c]);
        message("\n");
    }
}

void invert_coefficients(RunState& state)
{
    std::vector<int> pivots = allocate_zeroed<int>(static_cast<unsigned>(state.coefficients.datacols), 231,
                                                   "Error %s %d: error allocating %lld bytes.\n");
    if (state.options.debug)
        message("matinv()\n");
    int status = 0;
    double det = 0.0;
    matinv(&status, state.coefficients.datacols, state.coefficients.datacols, state.coefficients.fsc->data(),
           state.coefficients.datacols, pivots.data(), &det);
    if (status == 2)
        error("Error %s %d: [FSC_SORTED] in %s is singular, no inverse\n", kErrorLabel, 232,
              state.options.fscname->c_str());
    if (state.options.debug)
        dump_matrix(state);
}

// The transform steps of each direction in their order, with their traces.
struct Step {
    const char* trace;
    void (*apply)(const RunState& state, RowMatrix& data, RowMatrix& result, int rows);
};
void standardize_step(const RunState& state, RowMatrix& data, RowMatrix&, int rows)
{
    standardize(state, data, rows);
}
void scorix_step(const RunState& state, RowMatrix& data, RowMatrix& result, int rows)
{
    scorix(state, data, result, rows);
}
void unstandardize_step(const RunState& state, RowMatrix&, RowMatrix& result, int rows)
{
    unstandardize(state, result, rows);
}
constexpr Step kForward[] = {{"standardize()\n", standardize_step}, {"scorix()\n", scorix_step}};
constexpr Step kInverse[] = {{"scorix()\n", scorix_step}, {"unstandardize()\n", unstandardize_step}};

// One block of a file on its way from its lines through the steps to its
// printed rows.
struct Block {
    LineBlock lines;
    RowMatrix data;
    RowMatrix result;
    std::unique_ptr<char[]> printed;
    std::size_t printed_size = 0;
    std::size_t printed_capacity = 0;  // a table's labels may need more than printed_bytes
};

// Prints a block's rows: as runs of numbers, or as a table with the labels
// in front and NA for the rows with a missing value.
void print_block(const RunState& state, Block& block)
{
    const LineBlock& lines = block.lines;
    const int rows = lines.rows();
    if (!state.options.format.table) {
        char* printed = block.printed.get();
        block.printed_size =
            static_cast<std::size_t>(format_rows(block.result, rows, state.options.scores, printed) - printed);
        return;
    }
    const std::size_t needed = printed_bytes(rows, state.options.scores) + lines.labels.size();
    if (needed > block.printed_capacity) {
        block.printed = std::make_unique_for_overwrite<char[]>(needed);
        block.printed_capacity = needed;
    }
    char* printed = block.printed.get();
    block.printed_size = static_cast<std::size_t>(
        format_table_rows(block.result, rows, state.options.scores, state.options.format.separator(),
                          state.options.format.decimal, lines.labels, lines.label_ends.data(), lines.missing.data(),
                          printed) -
        printed);
}

// The name of a field for an error text.
std::string shown_name(const std::vector<std::string>& names, std::size_t i)
{
    return i < names.size() ? "\"" + names[i] + "\"" : std::string("missing");
}

// A name in an output's header line as the reader takes it back. Between
// delimiters it is quoted (a quote inside doubled) only where it must be:
// when it holds the delimiter, a quote or a line break, or white space at
// either end, which the reader would take off; an empty name is written
// "", as R writes it, so that it reads back the same in either layout. In
// white-space columns a name is quoted as the coefficient file's names are.
std::string header_name(const std::string& name, const TableFormat& format)
{
    if (!format.delimiter)
        return quoted_name(name);
    const bool plain = !name.empty() && !is_space(name.front()) && !is_space(name.back()) &&
                       name.find_first_of(std::string{'"', '\n', '\r', format.delimiter}) == std::string::npos;
    if (plain)
        return name;
    std::string quoted = "\"";
    for (char c : name)
        quoted.append(c == '"' ? 2 : 1, c);
    return quoted + '"';
}

// The score names the forward direction writes: F1, F2, ... (V1, ... for
// the variables of the inverse without names of their own).
std::vector<std::string> numbered_names(char letter, int count)
{
    std::vector<std::string> names;
    for (int s = 0; s < count; ++s)
        names.push_back(letter + std::to_string(s + 1));
    return names;
}

// What the reader of the data files takes from the run.
ReadSettings read_settings(const RunState& state)
{
    ReadSettings settings;
    settings.cols = state.coefficients.datacols;
    settings.flags = state.coefficients.readflag ? state.coefficients.readflag->data() : nullptr;
    settings.format = state.options.format.table ? &state.options.format : nullptr;
    // A score file holds the first scores only (a forward run with -s).
    settings.short_rows_zero = state.options.reverse;
    return settings;
}

// Ends the run with the error that tells of `failure` of `input`.
[[noreturn]] void fail_reading(const DataReader& input, const ReadFailure& failure)
{
    using Kind = ReadFailure::Kind;
    const char* path = input.path();
    switch (failure.kind) {
    case Kind::open: error("Error %s %d:opening %s\n", kErrorLabel, 646, path);
    case Kind::too_many:
        error("Error %s %d:\nnumber of variables in std (%d)\nand in %s (%d) mismatch.\n", kErrorLabel, 655,
              input.settings().cols, path, failure.count);
    case Kind::not_a_number:
        error("Error %s %d:%s:%lld:%d: a field that is not a number, in \"%s\"\n", kErrorLabel, 661, path, failure.line,
              failure.field, failure.excerpt.c_str());
    case Kind::open_quote:
        error("Error %s %d:%s:%lld: a quote that is not closed before the end of the file\n", kErrorLabel, 663, path,
              failure.line);
    case Kind::none:
    case Kind::read:
    case Kind::damaged: break;
    }
    error("Error %s %d:reading %s\n", kErrorLabel, 647, path);
}

// Opens the data file at `path` ("-": standard input) with its console
// lines; ends the run when it cannot be opened.
DataReader readfile(const RunState& state, const char* path)
{
    DataReader input = DataReader::open(path, read_settings(state));
    if (!state.options.quiet)
        message("File:      %s\n", path);
    if (state.options.debug)
        message("scanning file\n");
    if (ReadFailure failure = input.open_failure())
        fail_reading(input, failure);
    if (state.options.debug)
        message("reading file\n");
    return input;
}

// Starts the output file for the input `path`; it replaces an earlier file
// of its name (the input itself, too) only when it is complete. An output
// that cannot be created is reported by finish(), once the input has been
// read and its rows counted: a fault of the input is told first. The output
// of an input on a descriptor streams to standard output: a failure after
// rows have gone out says that they are not all.
OutputFile writefile(const RunState& state, const char* path)
{
    if (state.options.debug)
        message("writefile()\n");
    if (writes_to_standard_output(path))
        return OutputFile(AtomicFile::standard_output(), true);
    return OutputFile(AtomicFile(output_name(path, state.options.EXT)));
}

// The file's row count on the console, once every block is taken; the count
// is a 32-bit number, and a file of more rows fails as the storage for all of
// them once did.
void report_rows(const RunOptions& options, const DataReader& input)
{
    if (options.quiet)
        message("rows:%lld file:%s", input.rows(), input.path());
    else
        message("Rows:      %lld\n", input.rows());
    if (input.rows() > INT_MAX)
        error("Error %s %d: allocating %lld bytes\n", kErrorLabel, 624, LLONG_MAX);
}

// With --header: checks the data's names (forward, against the coefficient
// file's when it has names; inverse, against the score names the forward
// direction writes, as many as the data has, from one up to the variables)
// and writes the output's own header line.
void take_header(const RunState& state, const DataReader& input, OutputFile& output)
{
    const TableFormat& format = state.options.format;
    RowReader reader(format);
    const std::vector<std::string> all = reader.names(input.header());
    std::vector<std::string> names;
    std::vector<int> field_numbers;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (!format.is_label(static_cast<int>(i))) {
            names.push_back(all[i]);
            field_numbers.push_back(static_cast<int>(i) + 1);
        }
    const int datacols = state.coefficients.datacols;
    std::optional<std::vector<std::string>> expected = state.coefficients.names;
    if (state.options.reverse)
        expected = numbered_names('F', std::min(std::max(static_cast<int>(names.size()), 1), datacols));
    if (expected) {
        for (std::size_t i = 0; i < std::max(names.size(), expected->size()); ++i) {
            if (i < names.size() && i < expected->size() && names[i] == (*expected)[i])
                continue;
            const int field =
                i < field_numbers.size() ? field_numbers[i] : static_cast<int>(all.size() + i - names.size()) + 1;
            error("Error %s %d:%s:%lld:%d: the data's name is %s, %s has %s\n", kErrorLabel, 662, input.path(),
                  input.header_line(), field, shown_name(names, i).c_str(), state.options.fscname->c_str(),
                  shown_name(*expected, i).c_str());
        }
    }
    std::vector<std::string> written = numbered_names(state.options.reverse ? 'V' : 'F', state.options.scores);
    if (state.options.reverse && state.coefficients.names)
        std::copy_n(state.coefficients.names->begin(), std::min(written.size(), state.coefficients.names->size()),
                    written.begin());
    std::string line;
    const char separator = format.separator();
    for (const std::string& label : reader.label_names(input.header()))
        line += label + separator;
    for (std::size_t s = 0; s < written.size(); ++s) {
        if (s > 0)
            line += separator;
        line += header_name(written[s], format);
    }
    output.write(line + "\n");
}

// The blocks in flight (plan_blocks). The first block gets its storage at
// once (a failure to get it is the file's first fault after its opening);
// the others get theirs once a second block has
// read rows (a file of one block needs none, nor one whose reading fails
// before), before any thread starts, so a failure to get it is reported
// with no thread running.
class Blocks {
public:
    Blocks(const RunState& state, int threads) : state_(state)
    {
        const BlockPlan plan = plan_blocks(threads, static_cast<int>(block_rows(state.coefficients.datacols)));
        rows_ = plan.rows;
        blocks_.resize(static_cast<std::size_t>(plan.count));
        make_storage(blocks_.front());
    }

    int count() const { return static_cast<int>(blocks_.size()); }
    Block& at(int slot) { return blocks_[static_cast<std::size_t>(slot)]; }

    // Reads the next block's lines into `slot` and makes sure it has its
    // storage; false when no block is left.
    bool read(DataReader& input, int slot)
    {
        if (!input.read_lines(at(slot).lines, rows_))
            return false;
        if (slot > 0 && !blocks_[1].printed && at(slot).lines.rows() > 0)
            make_rest();
        return true;
    }

private:
    // The rows of a block, its results and their printed text.
    void make_storage(Block& block)
    {
        const std::uint64_t cells = static_cast<std::uint64_t>(rows_) * state_.coefficients.datacols;
        block.data = RowMatrix{rows_, state_.coefficients.datacols, allocate_zeroed<double>(cells, 624)};
        block.result = RowMatrix{rows_, state_.coefficients.datacols, allocate_zeroed<double>(cells, 627)};
        block.printed = std::make_unique_for_overwrite<char[]>(printed_bytes(rows_, state_.options.scores));
        block.printed_capacity = printed_bytes(rows_, state_.options.scores);
    }

    void make_rest()
    {
        for (std::size_t i = 1; i < blocks_.size(); ++i)
            make_storage(blocks_[i]);
    }

    const RunState& state_;
    std::vector<Block> blocks_;
    int rows_ = 0;
};

}  // namespace

void check_vector_lengths(const RunState& state)
{
    if (!state.coefficients.std || !state.coefficients.fsc)
        error("Error %s %d: no [STD] or [FSC_SORTED] in %s\n", kErrorLabel, 217, state.options.fscname->c_str());
    // Sections of different sizes can pass the reader in some orders (an
    // empty matrix followed by vectors, say); no step may read past a vector
    // or the matrix.
    std::uint64_t order =
        static_cast<std::uint64_t>(std::llround(std::sqrt(static_cast<double>(state.coefficients.fsc->size()))));
    if (order * order != static_cast<std::uint64_t>(state.coefficients.datacols) *
                             static_cast<std::uint64_t>(state.coefficients.datacols))
        count_mismatch(220, "std", state.coefficients.datacols, "fsc", static_cast<int>(order));
    if (static_cast<long long>(state.coefficients.std->size()) != state.coefficients.datacols)
        count_mismatch(218, "fsc", state.coefficients.datacols, "std",
                       static_cast<int>(state.coefficients.std->size()));
    if (state.coefficients.mean &&
        static_cast<long long>(state.coefficients.mean->size()) != state.coefficients.datacols)
        count_mismatch(219, "fsc", state.coefficients.datacols, "mean",
                       static_cast<int>(state.coefficients.mean->size()));
}

void process_file(RunState& state, const char* path)
{
    DataReader input = readfile(state, path);
    const auto& steps = state.options.reverse ? kInverse : kForward;
    if (state.options.debug)
        for (const Step& step : steps)
            message("%s", step.trace);
    OutputFile output = writefile(state, path);
    const int threads = input.threads();
    Blocks blocks(state, threads);
    PipelineSteps pipeline;
    bool header_taken = !state.options.format.header;
    pipeline.read = [&](int slot) {
        const bool more = blocks.read(input, slot);
        // The first read has passed the header; no helper runs yet.
        if (!header_taken) {
            header_taken = true;
            take_header(state, input, output);
        }
        return more;
    };
    // Every row goes through the same code whichever thread takes its block.
    pipeline.work = [&](int slot) {
        Block& block = blocks.at(slot);
        convert_lines(input.settings(), block.lines, block.data);
        if (block.lines.too_many >= 0 || block.lines.bad_row >= 0)
            return;
        for (const Step& step : steps)
            step.apply(state, block.data, block.result, block.lines.rows());
        print_block(state, block);
    };
    const Block* failed = nullptr;
    pipeline.write = [&](int slot) {
        const Block& block = blocks.at(slot);
        if (block.lines.too_many >= 0 || block.lines.bad_row >= 0 || block.lines.failed) {
            failed = &block;
            return false;
        }
        if (ReadFailure failure = input.take_block(block.lines))
            fail_reading(input, failure);
        output.write({block.printed.get(), block.printed_size});
        return true;
    };
    run_pipeline(threads, blocks.count(), pipeline);
    // Every thread has stopped: the first failure in file order is reported.
    if (failed)
        fail_reading(input, input.take_block(failed->lines));
    report_rows(state.options, input);
    output.finish();
    input.warn_text_rows();
}

int run(int argc, char** argv)
{
    RunState state;
    install_signal_cleanup();
    const int operands_end = take_table_options(state, argc, argv);
    const int first_operand = parse_options(state, operands_end, argv);
    set_progress_mode(state.options.progress < 0   ? ProgressMode::automatic
                      : state.options.progress > 0 ? ProgressMode::on
                                                   : ProgressMode::off);
    // Scores on standard output: the console moves to standard error for the
    // whole run, so that the two never mix.
    if (std::any_of(argv + first_operand, argv + operands_end,
                    [](const char* path) { return writes_to_standard_output(path); }))
        console_to_stderr();
    if (state.options.quiet)
        message("Scorix: ");
    else
        message("%s\n", Version);
    if (state.options.reverse && state.options.EXT == kDefaultExtension)
        state.options.EXT = ".tad";
    message(state.options.quiet ? "ext:%s " : "Extension: %s\n", state.options.EXT.c_str());
    if (!state.options.fscname)
        usage(state.options, argv[0]);
    logfile(argc, argv);
    readfsc(state, state.options.fscname->c_str());
    if (state.options.format.header)
        state.coefficients.names = read_names(state.options.fscname->c_str());
    if (!state.coefficients.mean)
        message("No mean available for this data!\n");
    if (state.options.scores > state.coefficients.datacols || state.options.scores < 0)
        state.options.scores = state.coefficients.datacols;
    parsereadflags(state);
    message(state.options.quiet ? "cols:%d scores:%d " : "Columns:   %d\nScores:    %d\n", state.coefficients.datacols,
            state.options.scores);
    check_vector_lengths(state);
    if (state.options.reverse)
        invert_coefficients(state);
    // Standard input is read once: a second "-" would find it used up.
    if (std::count_if(argv + first_operand, argv + operands_end, names_standard_input) > 1)
        error("Error %s %d:standard input (-) named more than once\n", kErrorLabel, 649);
    for (int i = first_operand; i < operands_end; ++i)
        process_file(state, argv[i]);
    if (state.options.quiet)
        message("\n");
    return 0;
}
