// Line-oriented text input shared by every file reader: a line reader that
// skips comment lines. What a number is lives in number_scanner.h.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string_view>
#include <utility>

#include "read/byte_stream.h"
#include "read/number_scanner.h"

// Characters that open a comment line when they are its first byte.
inline constexpr std::string_view strCommentChars = "!#;";

// True for a line whose first byte is a comment character or a NUL byte.
bool iscomment(std::string_view line);

// Reads a stream in large blocks and hands out its lines whole, each with
// its newline, however long: one read per megabyte and a memchr per line
// instead of a library call per line.
class LineReader {
public:
    explicit LineReader(ByteStream stream) : stream_(std::move(stream)) {}
    // A stream read as it is (the coefficient file), not closed here.
    explicit LineReader(std::FILE* stream) : LineReader(ByteStream(stream)) {}
    LineReader(LineReader&&) = default;
    LineReader& operator=(LineReader&&) = default;

    // Moves to the next line that is not a comment. Returns false at the end
    // of the stream or on a read error (see failed()).
    bool myfgets();
    // Moves to the next line, comment lines included.
    bool next_line();

    // The last line read, comment lines included; it stays in place when
    // myfgets() finds no further line.
    std::string_view line() const { return {buffer_.get() + line_begin_, line_end_ - line_begin_}; }

    // The number of the last line read in the stream, comment lines counted.
    long long line_number() const { return line_number_; }

    // A read error, damaged compressed data, or a line that did not fit in
    // memory.
    bool failed() const { return failed_ || stream_.failed(); }

private:
    // Keeps the current line and the bytes after it, moved to the front,
    // and reads more behind them, growing the buffer for a long line.
    void refill();

    ByteStream stream_;
    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t filled_ = 0;      // bytes of the buffer holding input
    std::size_t line_begin_ = 0;  // the current line within the buffer
    std::size_t line_end_ = 0;
    long long line_number_ = 0;
    bool at_end_ = false;  // the stream has nothing more to give
    bool failed_ = false;  // a line did not fit in memory
};
