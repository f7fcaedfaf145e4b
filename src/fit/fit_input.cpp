#include "fit/fit_input.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <utility>

#include "common/parallel.h"
#include "read/byte_stream.h"
#include "read/row_source.h"
#include "read/text_input.h"

namespace {

std::string place(const std::string& path, long long line)
{
    return path + ":" + std::to_string(line) + ": ";
}

ReadFailure failure_of(ReadFailure::Kind kind, int cause = 0)
{
    ReadFailure failure;
    failure.kind = kind;
    failure.cause = cause;
    return failure;
}

// The text of what stopped the reading of the data file at `path`.
std::string failure_text(const std::string& path, const ReadFailure& failure)
{
    switch (failure.kind) {
    case ReadFailure::Kind::open: return path + ": " + std::strerror(failure.cause);
    case ReadFailure::Kind::open_quote:
        return place(path, failure.line) + "a quote that is not closed before the end of the file";
    case ReadFailure::Kind::damaged: return path + ": read error: compressed data damaged or cut short";
    default: return path + ": read error" + (failure.cause ? std::string(": ") + std::strerror(failure.cause) : "");
    }
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

// The first value of the row that is not a finite number, or "". With
// pairwise missing values the row's first `missing` NaNs are its missing
// values.
std::string not_finite(const double* row, int variables, int missing = 0)
{
    for (int i = 0; i < variables; ++i)
        if (!std::isfinite(row[i]) && !(std::isnan(row[i]) && missing-- > 0))
            return "value " + std::to_string(i + 1) + " is " +
                   (std::isnan(row[i]) ? "nan"
                    : row[i] > 0       ? "inf"
                                       : "-inf") +
                   ", not a finite number" + (std::isnan(row[i]) ? " (a missing value? --na=nan)" : "");
    return "";
}

// Why a category table refused variable `variable` (from 0).
std::string category_problem(const RowRules& rules, CategoryTables::Refused refused, const double* row)
{
    const CorrelationType& type = *rules.cor;
    const std::string variable = std::to_string(refused.variable + 1);
    if (refused.why == CategoryTables::Refusal::kFraction) {
        char value[40];
        std::snprintf(value, sizeof value, "%.15g", row[refused.variable]);
        return "value " + variable + " (" + value + ") is not a whole number: --cor=" + type.name +
               " takes categories coded as whole numbers";
    }
    return "variable " + variable + " has more than " + std::to_string(rules.categories) +
           " distinct values: --cor=" + type.name + " takes " +
           (rules.categories == 2 && !type.detects ? "" : "at most ") + std::to_string(rules.categories) +
           " categories" + (type.detects ? " (--max-categories)" : "");
}

// A row refused for `problem`, or used when there is none.
RowVerdict verdict(FitBlock& block, std::string problem)
{
    block.problem = std::move(problem);
    return block.problem.empty() ? RowVerdict::kUse : RowVerdict::kRefuse;
}

// A table row's verdict, on what reading it `found` (a refused one's field
// in block.bad_field).
RowVerdict table_row_verdict(FitBlock& block, const RowFields& found, const RowRules& rules, std::string_view line,
                             const double* row)
{
    if (found.bad_field >= 0 && (rules.format->delimiter || found.glued)) {
        block.bad_field = found.bad_field;
        return verdict(block, '"' + field_shown(*rules.format, line, found.bad_field) + "\" is not a number");
    }
    // A short row's values are missing, unless a word ended them.
    if (found.count > rules.variables || (found.count < rules.variables && found.bad_field >= 0))
        return verdict(block, std::to_string(found.count) + " values, but " + rules.counted_by + " " +
                                  std::to_string(rules.variables));
    if (found.missing && rules.drop_incomplete)
        return RowVerdict::kDrop;
    if (found.missing && rules.pairwise)
        return verdict(block, not_finite(row, rules.variables, found.missing));
    if (found.missing) {
        block.bad_field = found.first_missing;
        return verdict(block, "a missing value (--drop-incomplete leaves out the rows that have one)");
    }
    return verdict(block, not_finite(row, rules.variables));
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

}  // namespace

RowVerdict check_row(FitBlock& block, const RowRules& rules, RowSource& source, std::string_view line, double* row)
{
    const RowFields found = source.read(line, row, rules.variables, nullptr, nullptr);
    if (rules.format)
        return table_row_verdict(block, found, rules, line, row);
    return verdict(block, row_problem(line, row, found.count, found.numbers_end, rules.variables, rules.counted_by));
}

void convert_rows(FitBlock& block, const RowRules& rules)
{
    const int variables = rules.variables;
    block.bad_row = -1;
    block.bad_field = 0;
    block.dropped = 0;
    block.kept = 0;
    block.values.resize(static_cast<std::size_t>(block.lines.rows()) * variables);
    const std::unique_ptr<RowSource> source = row_source(rules.format);
    if (rules.cor && block.tables)
        block.tables->reset();
    else if (rules.cor)
        block.tables.emplace(variables, rules.categories, rules.kinds);
    int kept = 0;
    for (int r = 0; r < block.lines.rows(); ++r) {
        double* row = block.values.data() + static_cast<std::size_t>(kept) * variables;
        const RowVerdict verdict = check_row(block, rules, *source, block.lines.line(r), row);
        if (verdict == RowVerdict::kDrop) {
            ++block.dropped;
            continue;
        }
        if (verdict == RowVerdict::kRefuse) {
            block.bad_row = r;
            return;
        }
        if (rules.cor)
            if (const CategoryTables::Refused refused = block.tables->add(row);
                refused.why != CategoryTables::Refusal::kNone) {
                block.problem = category_problem(rules, refused, row);
                block.bad_row = r;
                return;
            }
        ++kept;
    }
    block.kept = kept;
    if (rules.pairwise) {
        if (!block.pairs)
            block.pairs.emplace(variables);
        block.pairs->reset();
        block.pairs->add(block.values.data(), kept);
        return;
    }
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

CategoryTables::Refused fold(Streamed& into, const Streamed& later)
{
    if (later.tables && into.tables) {
        if (const CategoryTables::Refused refused = into.tables->merge(*later.tables);
            refused.why != CategoryTables::Refusal::kNone)
            return refused;
    } else if (later.tables) {
        into.tables = later.tables;
    }
    if (later.moments && into.moments)
        into.moments->merge(*later.moments);
    else if (later.moments)
        into.moments = later.moments;
    if (later.pairs && into.pairs)
        into.pairs->merge(*later.pairs);
    else if (later.pairs)
        into.pairs = later.pairs;
    into.dropped += later.dropped;
    return {};
}

void RowPool::learn_variables(const DataReader& reader, const LineBlock& lines, const std::string& path)
{
    const bool header = rules_.format && rules_.format->header;
    const std::string header_place = place(path, reader.header_line());
    // Moment files are told by their first bytes only when named as files:
    // from standard input or a pipe, one is read as data, and said to be.
    if (const std::string_view first = header             ? reader.header()
                                       : lines.rows() > 0 ? lines.line(0)
                                                          : "";
        line_text(first) == kMomentFirstLine)
        throw FitError(place(path, header ? reader.header_line() : line_number(lines, 0)) +
                       "a moment file: moment files are merged when named as files, not read from standard input or "
                       "a pipe");
    std::vector<std::string> fields;  // the header's name of each field of the rows
    if (header) {
        RowReader words(*rules_.format);
        fields = words.names(reader.header());
        // A header one field short of the rows (R's write.table with row
        // names) names the fields after the first, which holds the rows'
        // labels.
        if (lines.rows() > 0 && words.names(lines.line(0)).size() == fields.size() + 1) {
            fields.insert(fields.begin(), "");
            if (variables_ < 0 && !format_.is_label(0))
                format_.labels.insert(format_.labels.begin(), 0);
        }
    }
    if (variables_ < 0 && lines.rows() > 0 && choice_.columns) {
        const int count = static_cast<int>(RowReader(*rules_.format).names(lines.line(0)).size());
        const std::string place_of = header ? header_place : place(path, line_number(lines, 0));
        if (std::string problem = choose_columns(format_, *choice_.columns, header ? &fields : nullptr, count);
            !problem.empty())
            throw FitError(place_of + "--columns=" + *choice_.columns + ": " + problem);
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (!format_.is_label(static_cast<int>(i)))
            names.push_back(fields[i]);
    if (header && variables_ >= 0 && names != names_)
        throw FitError(header_place + "the names differ from those of " +
                       rules_.first_row.substr(0, rules_.first_row.rfind(':')));
    if (variables_ >= 0 || lines.rows() == 0)
        return;
    names_ = names;
    rules_.first_row = path + ":" + std::to_string(line_number(lines, 0));
    rules_.counted_by = "the first data row (" + rules_.first_row + ") has";
    if (header && !choice_.columns) {
        variables_ = static_cast<int>(names.size());
        rules_.counted_by = "the header (" + path + ":" + std::to_string(reader.header_line()) + ") names";
    } else {
        variables_ = row_source(rules_.format)->read(lines.line(0), nullptr, 0, nullptr, nullptr).count;
    }
    rules_.variables = variables_;
    // The variables --ordinal names are ordinal, the others continuous;
    // without it, mixed finds out which are.
    if (rules_.cor && rules_.cor->detects) {
        TableFormat chosen;
        if (std::string problem =
                ordinal_ ? choose_columns(chosen, *ordinal_, names_.empty() ? nullptr : &names_, variables_) : "";
            !problem.empty())
            throw FitError(rules_.first_row + ": --ordinal=" + *ordinal_ + ": " + problem);
        rules_.kinds.assign(static_cast<std::size_t>(variables_),
                            ordinal_ ? CategoryTables::Kind::kContinuous : CategoryTables::Kind::kDetect);
        for (const int i : chosen.columns)
            rules_.kinds[static_cast<std::size_t>(i)] = CategoryTables::Kind::kOrdinal;
    }
    // With every field a label, or words where numbers were looked for,
    // there is nothing to fit (a plain row without numbers is told by its
    // check).
    if (variables_ == 0 && rules_.format)
        throw FitError(rules_.first_row +
                       ": no variables: the first data row has no value fields (only labels, or words)");
}

void RowPool::count_categories(const CorrelationType& type, const CorrelationSettings& settings)
{
    rules_.cor = type.categories > 0 ? &type : nullptr;
    rules_.categories = table_categories(type, settings);
    keep_values_ = type.keeps_rows;
    ordinal_ = settings.ordinal;
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
    // The first chunk of a file is one row; every later one block_rows.
    auto chunk = [&] { return moments_ ? block_rows(variables_) : 1LL; };
    if (block.kept == 0)
        return;
    const std::size_t width = static_cast<std::size_t>(variables_);
    if (choice_.keep_rows || keep_values_)
        kept_.insert(kept_.end(), block.values.begin(),
                     block.values.begin() + static_cast<std::ptrdiff_t>(block.kept * width));
    if (choice_.keep_rows)
        return;
    if (waiting_.empty() && block.kept == chunk() && block.dropped == 0) {
        if (moments_)
            moments_->merge(*block.moments);
        else
            moments_ = block.moments;
        return;
    }
    waiting_.insert(waiting_.end(), block.values.begin(),
                    block.values.begin() + static_cast<std::ptrdiff_t>(block.kept * width));
    while (static_cast<long long>(waiting_.size() / width) >= chunk())
        take_waiting(chunk());
}

void RowPool::take(const std::string& path, int variables, const std::vector<std::string>& names, const Streamed& later)
{
    if (variables_ < 0 && variables > 0) {
        variables_ = variables;
        names_ = names;
    }
    if (const CategoryTables::Refused refused = fold(run_, later); refused.why != CategoryTables::Refusal::kNone) {
        RowRules rules = rules_;
        rules.categories = later.tables->max_categories();
        throw FitError(path + ": " + category_problem(rules, refused, nullptr));
    }
}

void RowPool::read(const std::string& path)
{
    // A compressed data file is decompressed as scorix does it.
    ByteStream file = ByteStream::open(path.c_str());
    if (!file.is_open())
        throw FitError(failure_text(path, failure_of(ReadFailure::Kind::open, errno)));
    const int threads = thread_count();
    ReadSettings settings;
    settings.format = rules_.format;
    settings.skip = choice_.skip;
    DataReader reader(std::move(file), settings, path.c_str(), threads);
    bool names_checked = false;
    bool first_block = true;
    std::vector<FitBlock> blocks(threads == 1 ? 1 : static_cast<std::size_t>(threads) + 2);
    const FitBlock* failed = nullptr;
    std::string too_many;  // categories the file's blocks have, but none alone
    PipelineSteps steps;
    steps.read = [&](int slot) {
        LineBlock& lines = blocks[static_cast<std::size_t>(slot)].lines;
        // The first block of a file is one row (the number of variables,
        // when the first file tells it), then blocks of block_rows rows, so
        // that the fit depends on each file's rows alone.
        if (!reader.read_lines(lines, first_block || variables_ < 0 ? 1 : static_cast<int>(block_rows(variables_)),
                               true))
            return false;
        first_block = false;
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
        run_.dropped += block.dropped;
        if (rules_.pairwise && block.kept > 0) {
            if (pairs_)
                pairs_->merge(*block.pairs);
            else
                pairs_ = block.pairs;
            if (keep_values_)
                kept_.insert(kept_.end(), block.values.begin(),
                             block.values.begin() +
                                 static_cast<std::ptrdiff_t>(block.kept * static_cast<std::size_t>(variables_)));
        } else {
            take_rows(block);
        }
        // The categories are merged too: a variable can pass the bound in
        // no block but in the file.
        if (rules_.cor && block.kept > 0 && !run_.tables)
            run_.tables = block.tables;
        else if (rules_.cor && block.kept > 0)
            if (const CategoryTables::Refused refused = run_.tables->merge(*block.tables);
                refused.why != CategoryTables::Refusal::kNone) {
                too_many = path + ": " + category_problem(rules_, refused, nullptr);
                return false;
            }
        return true;
    };
    run_pipeline(threads, static_cast<int>(blocks.size()), steps);
    // The last chunk of a file is what is left of it.
    if (!failed && !waiting_.empty())
        take_waiting(static_cast<long long>(waiting_.size() / static_cast<std::size_t>(variables_)));
    Streamed own;
    std::swap(own.moments, moments_);
    std::swap(own.pairs, pairs_);
    fold(run_, own);
    if (!too_many.empty())
        throw FitError(too_many);
    if (failed && failed->out_of_memory)
        throw std::bad_alloc();
    // Damaged compressed data can make wrong lines before the check at the
    // end of the stream fails: the damage is what to report.
    if (failed && failed->bad_row >= 0 && reader.damaged_rest())
        throw FitError(failure_text(path, failure_of(ReadFailure::Kind::damaged)));
    if (failed && failed->bad_row >= 0)
        throw FitError(path + ":" + std::to_string(line_number(failed->lines, failed->bad_row)) +
                       (failed->bad_field ? ":" + std::to_string(failed->bad_field) : "") + ": " + failed->problem);
    // A read error first, then a quote still open at the end.
    if (failed)
        throw FitError(failure_text(path, reader.failure(failed->lines)));
}

Eigen::MatrixXd RowPool::matrix(const std::string& path, bool covariance) const
{
    const auto p = static_cast<Eigen::Index>(variables_ < 0 ? 0 : variables_);
    const auto rows = p ? static_cast<Eigen::Index>(kept_.size()) / p : 0;
    if (rows == 0)
        throw FitError(path + ": no matrix: the file has no data rows");
    if (rows != p)
        throw FitError(path + ": a matrix of " + std::to_string(rows) + " rows and " + std::to_string(p) +
                       " columns is not square");
    Eigen::MatrixXd m =
        Eigen::Map<const Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(kept_.data(), p, p);
    const char* kind = covariance ? "covariance" : "correlation";
    for (Eigen::Index i = 0; i < p; ++i) {
        const double d = m(i, i);
        if (covariance ? !(d > 0) : std::abs(d - 1) > 1e-8) {
            char value[32];
            std::snprintf(value, sizeof value, "%.17g", d);
            throw FitError(path + ": entry (" + std::to_string(i + 1) + ", " + std::to_string(i + 1) + ") is " + value +
                           ", but a " + kind + " matrix has " +
                           (covariance ? "a positive diagonal" : "1 on its diagonal"));
        }
    }
    // A printed matrix is symmetric as printed; one computed elsewhere (a
    // correlation matrix scaled on both sides, as this program's own) may
    // differ in the last digits, and is factored as it stands, as the
    // matrix of a data run is.
    for (Eigen::Index i = 0; i < p; ++i)
        for (Eigen::Index j = 0; j < i; ++j)
            if (std::abs(m(i, j) - m(j, i)) > 1e-8 * std::sqrt(m(i, i) * m(j, j))) {
                char values[80];
                std::snprintf(values, sizeof values, "%.17g and %.17g", m(j, i), m(i, j));
                throw FitError(path + ": the matrix is not symmetric: entries (" + std::to_string(j + 1) + ", " +
                               std::to_string(i + 1) + ") and (" + std::to_string(i + 1) + ", " +
                               std::to_string(j + 1) + ") are " + values);
            }
    return m;
}

Eigen::VectorXd values_file(const std::string& path, Eigen::Index count, bool positive)
{
    std::ifstream in(path);
    if (!in)
        throw FitError(path + ": " + std::strerror(errno));
    std::vector<double> values;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line[0] == '#')
            continue;
        for (const std::string& word : RowReader(TableFormat()).names(line)) {
            double value = 0;
            if (scan_number(word, value) != word.size() || !std::isfinite(value) || (positive && !(value > 0)))
                throw FitError(place(path, number) + "\"" + word + "\" is not a " + (positive ? "positive " : "") +
                               "finite number");
            values.push_back(value);
        }
    }
    if (in.bad())
        throw FitError(path + ": " + std::strerror(errno));
    if (static_cast<Eigen::Index>(values.size()) != count)
        throw FitError(path + ": " + std::to_string(values.size()) + " numbers, but the matrix has " +
                       std::to_string(count) + " variables");
    return Eigen::Map<const Eigen::VectorXd>(values.data(), count);
}
