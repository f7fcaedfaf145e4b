// Data files: one observation per line, one variable per column. A file is
// read twice: a count pass that vets every line and counts the rows, then a
// read pass that hands the rows on block by block, so memory does not grow
// with the length of the file. A large regular file is counted in parts on
// several threads; the read pass reads blocks of lines on the calling thread
// that any thread may then convert. Failures found off the calling thread
// are kept with their block and reported in file order. A compressed file is
// decompressed in both passes (see byte_stream.h), as one stream.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "byte_stream.h"
#include "run_state.h"
#include "text_input.h"

// The lines of one block of rows as the read pass found them.
struct LineBlock {
    std::unique_ptr<char[]> text;  // the lines, and maybe the start of the next
    std::size_t capacity = 0;
    std::vector<std::pair<std::size_t, std::size_t>> lines;  // each row's line in `text`, newline included
    int failure = 0;          // the read pass ended after these rows: 689 (read error), 692 (rows lost)
    long long rows_read = 0;  // rows read up to the end of this block
    int too_many = -1;        // convert_lines: numbers of the first line with more than the variables

    int rows() const { return static_cast<int>(lines.size()); }
    std::string_view line(int row) const
    {
        return {text.get() + lines[row].first, lines[row].second - lines[row].first};
    }
};

// A data file between its count pass and the end of its read pass.
class DataReader {
public:
    DataReader(ByteStream stream, long long rows, int cols, const char* path);

    // Rows that end their numbers early with text after them (a header, a
    // CSV line): their missing values are read as 0, which the user should
    // hear of once the file is done.
    struct TextRows {
        long long count = 0;
        long long first_line = 0;
        std::string first;  // that line, cut short
    };
    TextRows text_rows;
    long long rows() const { return rows_; }
    // Threads worth starting for the read pass: one for a file whose rows
    // fill one block's text at most.
    int threads() const { return threads_; }

private:
    friend DataReader readfile(RunState& state, const char* path);
    friend bool read_lines(DataReader& reader, LineBlock& block, int max_rows);
    friend void stop_on_failure(const DataReader& reader, const LineBlock& block);
    friend bool readblock(RunState& state, DataReader& reader);
    friend void warn_text_rows(const DataReader& reader);
    ByteStream stream_;
    long long rows_;       // rows the count pass found
    long long rows_left_;  // counted rows the read pass has still to hand on
    int cols_;
    int threads_ = 1;
    const char* path_;
    // Bytes read and not handed on yet, left at the end of the last block.
    const char* carried_ = nullptr;
    std::size_t carried_size_ = 0;
    bool at_end_ = false;  // the stream has nothing more to give
    bool ended_ = false;   // every counted row is handed on, or the pass failed
    LineBlock block_;      // readblock's
};

// The count pass of the file at `path` with its console lines; then sizes
// the data/result pair for one block and opens the read pass. Ends the run
// through `error` on any failure.
DataReader readfile(RunState& state, const char* path);

// Reads the lines of the next at most `max_rows` rows into `block` (the
// calling thread's part of the read pass); false once every counted row has
// been handed on or the pass failed. A block that ends the pass early says
// so in `failure`, after the rows it holds.
bool read_lines(DataReader& reader, LineBlock& block, int max_rows);

// Converts the block's rows into rows 0 to block.rows() - 1 of `data`
// (`state` is only read, so any thread may do this); cells beyond a line's
// numbers and unselected columns are 0. A line with more numbers than
// variables ends the block's conversion and is noted in block.too_many.
void convert_lines(const RunState& state, LineBlock& block, RowMatrix& data);

// Ends the run through `error` when the block holds a failure: a line with
// too many numbers first, then how the pass ended.
void stop_on_failure(const DataReader& reader, const LineBlock& block);

// The read pass on the calling thread alone: reads and converts the next
// block of rows into state.data and sets datarows to its row count; false
// once every counted row has been handed on. Ends the run on a failure.
// The program reads through transform_file; this one is for the tests.
bool readblock(RunState& state, DataReader& reader);

// The warning about rows that hold text where numbers were expected, if any.
void warn_text_rows(const DataReader& reader);

// Rows per block for rows of `cols` values.
long long block_rows(int cols);

// Replaces the data/result pair by a zero-filled pair with room for a block
// of at most `rows` rows (the row count of a file); datarows becomes 0.
void allocate(RunState& state, long long rows);
