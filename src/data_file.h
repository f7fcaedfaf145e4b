// Data files: one observation per line, one variable per column. A file is
// read twice: a count pass that vets every line and counts the rows, then a
// read pass that hands the rows on block by block through the run's `data`
// matrix, so memory does not grow with the length of the file. A compressed
// file is decompressed in both passes (see byte_stream.h).
#pragma once

#include <string>

#include "byte_stream.h"
#include "run_state.h"
#include "text_input.h"

// A data file between its count pass and the end of its read pass.
class DataReader {
public:
    DataReader(ByteStream stream, long long rows, const char* path);

    // Rows that end their numbers early with text after them (a header, a
    // CSV line): their missing values are read as 0, which the user should
    // hear of once the file is done.
    struct TextRows {
        long long count = 0;
        long long first_line = 0;
        std::string first;  // that line, cut short
    };
    TextRows text_rows;

private:
    friend bool readblock(RunState& state, DataReader& reader);
    friend void warn_text_rows(const DataReader& reader);
    LineReader lines_;
    long long rows_;       // rows the count pass found
    long long rows_left_;  // counted rows the read pass has still to hand on
    const char* path_;
};

// The count pass of the file at `path` with its console lines; then sizes
// the data/result pair for one block and opens the read pass. Ends the run
// through `error` on any failure.
DataReader readfile(RunState& state, const char* path);

// Reads the next block of rows into state.data and sets datarows to its row
// count; false once every counted row has been handed on. Cells beyond a
// line's numbers and unselected columns are 0.
bool readblock(RunState& state, DataReader& reader);

// The warning about rows that hold text where numbers were expected, if any.
void warn_text_rows(const DataReader& reader);

// Rows per block for rows of `cols` values.
long long block_rows(int cols);

// Replaces the data/result pair by a zero-filled pair with room for a block
// of at most `rows` rows (the row count of a file); datarows becomes 0.
void allocate(RunState& state, long long rows);
