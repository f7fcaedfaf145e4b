// Line-oriented text input shared by every file reader: a line reader that
// skips comment lines, and scanners that find the run of numbers at the start
// of a line exactly as the C library's "%lg" conversion reads them.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// Characters that open a comment line when they are its first byte.
inline constexpr std::string_view strCommentChars = "!#;";

// True for a line whose first byte is a comment character or a NUL byte.
bool iscomment(std::string_view line);

// Converts the number that "%lg" would read at `text` (leading white space
// skipped). Returns how many bytes the conversion consumed, or 0 when it
// fails; `value` is set only on success. A NUL byte ends the text.
std::size_t scan_number(std::string_view text, double& value);

// How many numbers stand at the start of the line.
int checkline(std::string_view line);

// Stores the numbers at the start of the line into row[0], row[1], ... up to
// `capacity` of them and returns how many the line holds (as checkline does).
// With `flags`, a value whose column flag is 0 is stored as +0.0.
int readline(std::string_view line, double* row, int capacity, const int* flags);

// Reads a stream line by line, each line whole with its newline, however long.
class LineReader {
public:
    explicit LineReader(std::FILE* stream) : stream_(stream) {}
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // Moves to the next line that is not a comment. Returns false at the end
    // of the stream or on a read error (see failed()).
    bool myfgets();

    // The last line read, comment lines included; it stays in place when
    // myfgets() finds no further line.
    std::string_view line() const { return {current_, current_length_}; }

    // A read error, or a line that did not fit in memory.
    bool failed() const { return failed_ || std::ferror(stream_) != 0; }

private:
    std::FILE* stream_;
    char* current_ = nullptr;
    std::size_t current_capacity_ = 0;
    std::size_t current_length_ = 0;
    char* spare_ = nullptr;
    std::size_t spare_capacity_ = 0;
    bool failed_ = false;
};
