// Text cut into lines, defined once for every reader of text files. A line
// is the bytes up to and including a newline; a carriage return before the
// newline belongs to the line, and line_text takes both off. The bytes after
// the last newline make a last line once the stream has ended. Every line is
// counted; one whose first byte opens a comment (iscomment) holds no data.
// LineSplitter holds that rule; LineReader hands out one line at a time (the
// coefficient file, its names line), and the data files' block reader
// (data_file.h) specializes it to hand out many at once.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "read/byte_stream.h"
#include "read/number_scanner.h"

// Characters that open a comment line when they are its first byte.
inline constexpr std::string_view strCommentChars = "!#;";

// True for a line whose first byte is a comment character or a NUL byte.
bool iscomment(std::string_view line);

// A line without its newline (and carriage return).
std::string_view line_text(std::string_view line);

// Room for `size` bytes in `text` (of `capacity` bytes), the first `kept` of
// them copied from `from`, which may lie in the old text. False when memory
// runs out, with `text` as it was.
bool make_room(std::unique_ptr<char[]>& text, std::size_t& capacity, std::size_t size, const char* from,
               std::size_t kept);

// A stream and where its lines end. The buffer belongs to the reader built on
// it: one line's worth for LineReader, a block's for the data files.
class LineSplitter {
public:
    static constexpr std::size_t npos = std::string_view::npos;

    explicit LineSplitter(ByteStream stream) : stream_(std::move(stream)) {}

    // The end of the line within text[0, filled) whose newline is not before
    // `searched`: just past that newline, or npos while none has been read.
    static std::size_t newline_end(const char* text, std::size_t searched, std::size_t filled)
    {
        const void* newline = searched < filled ? std::memchr(text + searched, '\n', filled - searched) : nullptr;
        return newline ? static_cast<std::size_t>(static_cast<const char*>(newline) - text) + 1 : npos;
    }
    // The end of a line that starts at `start` and has no newline before
    // `filled`: `filled` once the stream has ended and the line holds a
    // byte, npos otherwise (more must be read, or there is no line).
    std::size_t last_line_end(std::size_t start, std::size_t filled) const
    {
        return at_end_ && start < filled ? filled : npos;
    }

    // Reads up to `room` bytes into `into`; fewer only at the end of the
    // stream or after a failure, and from then on at_end().
    std::size_t fill(char* into, std::size_t room)
    {
        const std::size_t got = stream_.read(into, room);
        at_end_ = got < room;
        return got;
    }
    bool at_end() const { return at_end_; }

    // Instead of fill: takes the next bytes without copying them, when the
    // stream can (see ByteStream::take); at_end() as after fill.
    bool take(ByteStream::Taken& taken)
    {
        if (!stream_.take(taken))
            return false;
        at_end_ = taken.last;
        return true;
    }

    // Lines cut so far, comment lines included.
    long long lines() const { return lines_; }

    // A read error, or damaged compressed data.
    bool stream_failed() const { return stream_.failed(); }
    bool compressed() const { return stream_.compressed(); }
    // Reads the rest of a compressed stream: true when it is damaged. A line
    // that stopped a reader may be the work of that damage.
    bool damaged_rest() { return stream_.damaged_rest(); }
    long long plain_size() const { return stream_.plain_size(); }
    long long file_size() const { return stream_.file_size(); }
    const std::atomic<long long>* consumed() const { return stream_.consumed(); }

protected:
    void count_lines(long long count) { lines_ += count; }

private:
    ByteStream stream_;
    long long lines_ = 0;
    bool at_end_ = false;  // the stream has nothing more to give
};

// Reads a stream in large blocks and hands out its lines whole, each with
// its newline, however long: one read per megabyte and a memchr per line
// instead of a library call per line.
class LineReader : public LineSplitter {
public:
    explicit LineReader(ByteStream stream) : LineSplitter(std::move(stream)) {}
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
    long long line_number() const { return lines(); }

    // A read error, damaged compressed data, or a line that did not fit in
    // memory.
    bool failed() const { return failed_ || stream_failed(); }

private:
    // Keeps the current line and the bytes after it, moved to the front,
    // and reads more behind them, growing the buffer for a long line.
    void refill();

    std::unique_ptr<char[]> buffer_;
    std::size_t capacity_ = 0;
    std::size_t filled_ = 0;      // bytes of the buffer holding input
    std::size_t line_begin_ = 0;  // the current line within the buffer
    std::size_t line_end_ = 0;
    bool failed_ = false;  // a line did not fit in memory
};
