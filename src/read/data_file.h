// Data files: one observation per line, one variable per column. A file is
// read once, block by block, so memory does not grow with its length: the
// calling thread reads the lines of a block, any thread converts and checks
// them, and what the blocks found (rows, text rows, failures) is taken in
// file order, so a run tells what a run on one thread would. A compressed
// file is decompressed as it is read (see byte_stream.h). The reader knows
// nothing of the program that runs it: it takes its settings (ReadSettings)
// and hands back what went wrong (ReadFailure) for the program to word.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/progress.h"
#include "read/byte_stream.h"
#include "read/row_matrix.h"
#include "read/table_format.h"
#include "read/text_input.h"

// What the reader of a data file needs to know of its program's run.
struct ReadSettings {
    int cols = 0;                         // values per row, the variables
    const int* flags = nullptr;           // per column, 0: read as 0; nullptr: every column read
    const TableFormat* format = nullptr;  // rows written as a table, or nullptr: runs of numbers
    bool short_rows_zero = false;         // a table's row short of values ends in zeros, not missing values
    long long skip = 0;                   // lines passed over at the start, whatever they hold (scorix-fit's --skip)
};

// What stopped the reading of a data file, for the program to word.
struct ReadFailure {
    enum class Kind {
        none,
        open,          // the file cannot be opened (cause: errno)
        read,          // a read error, or no memory for a line (cause: errno)
        damaged,       // compressed data damaged or cut short
        too_many,      // a line (at `line`) holds `count` numbers, more than the variables
        not_a_number,  // a table field (at `line`, `field` from 1) that is not a number
        open_quote,    // the file ends inside a quoted field that opened at `line`
    };
    Kind kind = Kind::none;
    long long line = 0;
    int field = 0;
    int count = 0;
    int cause = 0;
    std::string excerpt;  // the line, cut short, control bytes shown as '?'

    explicit operator bool() const { return kind != Kind::none; }
};

// The lines of one block of rows as they were read, and what converting
// them found.
struct LineBlock {
    std::unique_ptr<char[]> text;  // the lines, and maybe the start of the next
    std::size_t capacity = 0;
    std::size_t text_begin = 0;                              // where in `text` the block's text begins
    std::vector<std::pair<std::size_t, std::size_t>> lines;  // each row's lines in `text`, newline included
    long long first_line = 0;  // lines of the file before the block, comment lines included
    // Skipped lines taken out of `text`: at each offset, how many.
    std::vector<std::pair<std::size_t, long long>> taken_out;
    bool failed = false;       // reading ended after these rows with a read error
    int cause = 0;             // and its errno
    long long open_quote = 0;  // or the file ended inside a quoted field that opened on this line
    int too_many = -1;         // convert_lines: numbers of the first line (bad_row) with more than the variables
    int text_rows = 0;         // convert_lines: rows that hold text where numbers were expected
    int first_text_row = -1;   // and the first of them
    // Read as a table (TableFormat::table): each row's label fields with
    // their separators (row r's end at label_ends[r]), which rows hold a
    // missing value, and the first field that is not a number (or, with
    // too_many, the row of too many numbers).
    std::string labels;
    std::vector<std::size_t> label_ends;
    std::vector<char> missing;
    int missing_rows = 0;
    int bad_row = -1;
    int bad_field = 0;

    int rows() const { return static_cast<int>(lines.size()); }
    std::string_view line(int row) const
    {
        return {text.get() + lines[row].first, lines[row].second - lines[row].first};
    }
};

// A data file while its blocks are read: its lines cut as every text file's
// are, many at a time.
class DataReader : public LineSplitter {
public:
    DataReader(ByteStream stream, const ReadSettings& settings, const char* path, int threads);
    // Opens the file at `path` ("-": standard input), with the threads worth
    // starting for it; see open_failure().
    static DataReader open(const char* path, const ReadSettings& settings);
    // The file could not be opened.
    ReadFailure open_failure() const;

    // Rows that end their numbers early with text after them (a header, a
    // CSV line): their missing values are read as 0, which the user should
    // hear of once the file is done.
    struct TextRows {
        long long count = 0;
        long long first_line = 0;
        std::string first;  // that line, cut short
    };
    TextRows text_rows;
    // With a table format the file is read as a table: blank lines are no
    // rows, with a delimiter a row's quoted field may hold line breaks, and
    // with a header its first line that is not a comment is kept apart.
    const ReadSettings& settings() const { return settings_; }
    // The header line (empty until read) and its line number.
    const std::string& header() const { return header_; }
    long long header_line() const { return header_line_; }
    // Rows with a missing value so far.
    long long missing_rows() const { return missing_rows_; }
    const char* path() const { return path_; }
    // Rows read so far: the file's row count once read_lines has said no.
    long long rows() const { return rows_; }
    // Threads worth starting for the file.
    int threads() const { return threads_; }

    // Reads the lines of the next at most `max_rows` rows into `block` (the
    // calling thread's part); false once every row has been handed on or
    // reading failed. A block also ends at a megabyte of text, unless
    // `exact_rows` asks for `max_rows` rows wherever the file holds them (blocks
    // cut at the same rows whatever the lines' lengths). A block that ends
    // reading early says so in `failed`, after the rows it holds.
    bool read_lines(LineBlock& block, int max_rows, bool exact_rows = false);

    // What stopped the block, if anything: a line of too many numbers or a
    // field that is not a number (unless the rest of a compressed file is
    // damaged, which is told instead), then a read error, then a quote still
    // open at the end.
    ReadFailure failure(const LineBlock& block);

    // Takes a converted block in file order: its failure, or nothing once
    // its rows with text and with missing values are noted.
    ReadFailure take_block(const LineBlock& block);

    // The warnings about rows that hold text where numbers were expected and
    // about rows with missing values, if any.
    void warn_text_rows() const;

private:
    ReadSettings settings_;
    long long rows_ = 0;
    int threads_;
    const char* path_;
    int open_cause_ = 0;  // errno of a failed open
    // Bytes read and not handed on yet, left at the end of the last block.
    const char* carried_ = nullptr;
    std::size_t carried_size_ = 0;
    bool ended_ = false;  // every row is handed on, or reading failed
    // The last block ended at its size, not at its rows, leaving a part of
    // a line at most: the next may take the stream's next bytes whole.
    bool take_next_ = false;
    bool table_ = false;
    char delimiter_ = 0;  // of a delimited table, whose quoted fields may hold line breaks
    bool header_pending_ = false;
    long long skip_ = 0;  // lines still to pass over at the start
    std::string header_;
    long long header_line_ = 0;
    long long missing_rows_ = 0;
    std::unique_ptr<Progress> progress_;  // the bytes read, on a terminal; null once read
};

// The line number of a row of the block in its file, comment lines counted.
long long line_number(const LineBlock& block, int row);

// Converts the block's rows into rows 0 to block.rows() - 1 of `data` (any
// thread may do this); cells beyond a line's numbers and unselected columns
// are 0. A line with more numbers than variables ends the block's
// conversion and is noted in block.too_many; rows with text are counted.
void convert_lines(const ReadSettings& settings, LineBlock& block, RowMatrix& data);

// Rows per block for rows of `cols` values.
long long block_rows(int cols);
