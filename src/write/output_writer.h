// Writes the computed rows of one data file to its output file: the input
// name with its extension replaced by EXT, one line per row, the first
// `scores` values in "%-.7g" separated by one blank. Blocks of rows are
// printed (on any thread) and written in file order through one buffer.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "read/row_matrix.h"
#include "write/atomic_file.h"
#include "write/printer.h"

// An operand that names a descriptor of this process rather than a file
// ("-", /dev/stdin, /dev/fd/N: standard input, a pipe of the shell's): its
// output has no name to take and goes to standard output.
bool writes_to_standard_output(std::string_view path);

// The output name for an input path: the last "." of the last path
// component, unless it is the component's first character, and all after it
// give way to `ext`; without such a "." `ext` is appended.
std::string output_name(std::string_view path, std::string_view ext);

// Writes all `count` bytes to `fd`, resuming after interruptions; false
// when a write fails (errno says why).
bool write_all(int fd, const char* bytes, std::size_t count);

// Room that format_rows needs for `rows` rows of `scores` values.
inline std::size_t printed_bytes(int rows, int scores)
{
    return static_cast<std::size_t>(rows) * (static_cast<std::size_t>(scores) * (kValueChars + 1) + 1);
}

// Prints rows 0 to rows - 1 of `result`, the first `scores` values of each,
// one line per row, into `text` and returns the end of what it wrote.
char* format_rows(const RowMatrix& result, int rows, int scores, char* text);

// Prints rows as a table: in front of row r its label fields (labels up to
// label_ends[r], each already followed by `separator`), then its first
// `scores` values joined by `separator` with `decimal` as their decimal
// mark, or "NA" for each of them when missing[r] is set. Needs
// printed_bytes(rows, scores) + labels.size() bytes.
char* format_table_rows(const RowMatrix& result, int rows, int scores, char separator, char decimal,
                        std::string_view labels, const std::size_t* label_ends, const char* missing, char* text);

// The output file of one data file while its rows are written; it takes
// its name only when finish() finds every row written.
class OutputFile {
public:
    explicit OutputFile(AtomicFile file, bool streams = false);

    // Appends printed rows.
    void write(std::string_view text);

    // Writes out what is buffered and puts the file in place; ends the run
    // through `error` when the file could not be created, or when any
    // write, the close or the rename failed, with any earlier file of that
    // name left as it was.
    void finish();

private:
    void flush();
    void write_out(const char* bytes, std::size_t size);

    AtomicFile file_;
    bool streams_;           // standard output: what is written is delivered at once
    bool terminal_ = false;  // standard output on a terminal, shared with the progress line
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    bool failed_ = false;  // a write failed; reported by finish()
};
