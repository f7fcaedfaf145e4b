// The rows of scorix-fit's data files: each file read once in blocks, every
// row checked (used, left out for a missing value, or refused with the
// reason) and the moments of the rows used gathered in file order.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fit/correlation.h"
#include "fit/fit_error.h"
#include "fit/moments.h"
#include "fit/pairwise.h"
#include "read/data_file.h"
#include "read/row_source.h"
#include "read/table_format.h"

// The numbers of a file of one number per variable (--mean, --std: white
// space between them, '#' lines skipped): `count` of them, finite, and
// positive when `positive`. Throws FitError naming the file otherwise.
Eigen::VectorXd values_file(const std::string& path, Eigen::Index count, bool positive);

// What a pass over rows gathers for the fit, all of it small enough to be
// merged and kept in a moment file: the moments of the rows used (or, with
// pairwise missing values, each pair's), the contingency tables of a type
// that counts them, and the rows left out for a missing value.
struct Streamed {
    std::optional<Moments> moments;
    std::optional<PairMoments> pairs;
    std::optional<CategoryTables> tables;
    long long dropped = 0;
};

// Adds what the rows after those of `into` gathered: the one merge of a run
// over several files (each file's own state, folded in file order) and of
// moment files. Returns the refusal of the tables, which then add nothing.
CategoryTables::Refused fold(Streamed& into, const Streamed& later);

// One block of rows on its way from its lines to its moments.
struct FitBlock {
    LineBlock lines;
    std::vector<double> values;
    // The moments of the kept rows, when no row was left out.
    std::optional<Moments> moments;
    // The contingency tables of the kept rows, when the correlation type
    // counts them.
    std::optional<CategoryTables> tables;
    // The pairs' moments of the rows, with pairwise missing values.
    std::optional<PairMoments> pairs;
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
    bool pairwise = false;  // a row with a missing value is used, its missing values NaN
    int variables = 0;
    std::string first_row;
    std::string counted_by;                   // what fixed the count: "the first data row (FILE:LINE) has"
    const CorrelationType* cor = nullptr;     // one that counts contingency tables, or nothing
    int categories = 0;                       // the most a variable may have in them
    std::vector<CategoryTables::Kind> kinds;  // each variable's; empty: all ordinal
};

// What becomes of a row.
enum class RowVerdict {
    kUse,
    kDrop,    // a missing value, with --drop-incomplete
    kRefuse,  // the run stops: block.problem says why (block.bad_field: where)
};

// The verdict on one line of a block, whose values `source` (of
// rules.format) reads into `row`.
RowVerdict check_row(FitBlock& block, const RowRules& rules, RowSource& source, std::string_view line, double* row);

// Converts and checks the rows of a block (any thread) and takes their
// moments; a block stops at its first refused row.
void convert_rows(FitBlock& block, const RowRules& rules);

// The first line of a moment file (moment_file.h), which the reading of
// data files knows so as to name such a file given where data were read.
inline constexpr std::string_view kMomentFirstLine = "scorix-moments 1";

// Gathers the moments of the rows of every file. Each file is read once in
// blocks: the calling thread reads, any thread converts a block and takes
// its moments, and the calling thread merges them in file order, so the
// result has the same bits for any number of threads. The first data row
// fixes the number of variables.
//
// The moments are taken over chunks of the rows used: the first one of
// each file alone, then block_rows at a time. A
// block of lines without a left out row is such a chunk, and its moments
// come from the worker; rows after a left out one no longer fall on the
// blocks' boundaries, and wait here until a chunk is full. So the fit
// depends on the rows used alone, not on those --drop-incomplete left out.
// Each file's moments are its own, folded into those of the files before
// it when it ends, so that moment files of whole files merge to the same
// bits.
// What of each file RowPool reads: the lines skipped at its start (--skip),
// the fields of the variables (--columns: positions, names, ranges), and
// whether the rows are kept as they are (a matrix given as input) rather
// than taken into moments.
struct RowChoice {
    long long skip = 0;
    std::optional<std::string> columns;
    bool keep_rows = false;
};

class RowPool {
public:
    // `format` is used when format.table says so.
    RowPool(const TableFormat& format, bool drop_incomplete, RowChoice choice = {})
        : format_(format), choice_(std::move(choice))
    {
        if (format.table)
            rules_.format = &format_;
        rules_.drop_incomplete = drop_incomplete;
    }
    RowPool(const RowPool&) = delete;  // rules_ points into it
    RowPool& operator=(const RowPool&) = delete;
    void read(const std::string& path);
    // Takes the state a moment file kept, of rows after those read so far,
    // with its variables and names; `path` names it when its tables refuse.
    void take(const std::string& path, int variables, const std::vector<std::string>& names, const Streamed& later);
    long long rows() const { return run_.pairs ? run_.pairs->rows() : run_.moments ? run_.moments->rows() : 0; }
    const Moments& moments() const { return *run_.moments; }
    // What the files read so far gathered.
    const Streamed& streamed() const { return run_; }
    int variables() const { return variables_; }
    // The variables' names from the header of the first file, if any.
    const std::vector<std::string>& names() const { return names_; }
    long long dropped() const { return run_.dropped; }
    // Also counts the contingency tables of the rows used, for `type`, or
    // keeps the rows (gathered()).
    void count_categories(const CorrelationType& type, const CorrelationSettings& settings = {});
    // Pairwise missing values: every row is used, its missing values in no
    // pair, and the pairs' moments are gathered in place of moments().
    void keep_missing() { rules_.pairwise = true; }
    const PairMoments* pairs() const { return run_.pairs ? &*run_.pairs : nullptr; }
    // Those tables (nothing before a row, or when not counted).
    const CategoryTables* tables() const { return run_.tables ? &*run_.tables : nullptr; }
    // What the pass gathered for the correlation type's matrix.
    Gathered gathered() const { return {tables(), run_.moments ? &*run_.moments : nullptr, kept_, pairs()}; }

    // The rows kept (RowChoice::keep_rows) as a square matrix, checked as a
    // correlation matrix (`covariance` false: unit diagonal) or a covariance
    // matrix (positive diagonal), symmetric within 1e-8 of the roots of
    // its diagonal entries. Throws FitError naming the file and what is
    // wrong.
    Eigen::MatrixXd matrix(const std::string& path, bool covariance) const;

private:
    // The number of variables from the first file's header or first row.
    void learn_variables(const DataReader& reader, const LineBlock& lines, const std::string& path);
    // Takes the kept rows of the next block into the chunks (calling thread).
    void take_rows(const FitBlock& block);
    // Takes the moments of the first `count` waiting rows.
    void take_waiting(long long count);

    Streamed run_;  // of the files read, the tables merged block by block
    // The file being read: its moments, folded into run_ when it ends.
    std::optional<Moments> moments_;
    std::optional<PairMoments> pairs_;
    // Kept rows short of a whole chunk, and the scratch of take_waiting.
    std::vector<double> waiting_;
    std::optional<Moments> chunk_;
    int variables_ = -1;  // unknown before the first data row
    TableFormat format_;  // the options' one, with the label field of rows named by a short header
    RowChoice choice_;
    RowRules rules_;
    std::vector<std::string> names_;
    std::vector<double> kept_;            // the rows, with RowChoice::keep_rows or a type that keeps them
    bool keep_values_ = false;            // the rows are kept as well as taken into moments
    std::optional<std::string> ordinal_;  // --ordinal
};
