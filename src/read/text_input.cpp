#include "read/text_input.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

bool iscomment(std::string_view line)
{
    return line.empty() || line[0] == '\0' || strCommentChars.find(line[0]) != std::string_view::npos;
}

bool LineReader::myfgets()
{
    while (next_line())
        if (!iscomment(line()))
            return true;
    return false;
}

bool LineReader::next_line()
{
    std::size_t begin = line_end_;
    std::size_t searched = begin;
    for (;;) {
        const void* newline =
            searched < filled_ ? std::memchr(buffer_.get() + searched, '\n', filled_ - searched) : nullptr;
        if (newline) {
            line_end_ = static_cast<std::size_t>(static_cast<const char*>(newline) - buffer_.get()) + 1;
            break;
        }
        if (at_end_) {
            if (begin == filled_)
                return false;
            line_end_ = filled_;
            break;
        }
        // memchr resumes where it stopped, so a long line is searched once.
        searched = filled_ - line_begin_;
        begin -= line_begin_;
        refill();
        if (failed_)
            return false;
    }
    line_begin_ = begin;
    ++line_number_;
    return true;
}

void LineReader::refill()
{
    constexpr std::size_t kBlock = 1 << 20;
    std::size_t kept = filled_ - line_begin_;
    if (capacity_ - kept < kBlock / 2) {
        std::size_t capacity = std::max(kBlock, 2 * capacity_);
        std::unique_ptr<char[]> larger;
        try {
            larger = std::make_unique_for_overwrite<char[]>(capacity);
        } catch (const std::bad_alloc&) {
            // A line that does not fit in memory must not pass for the end.
            failed_ = true;
            return;
        }
        if (kept)
            std::memcpy(larger.get(), buffer_.get() + line_begin_, kept);
        buffer_ = std::move(larger);
        capacity_ = capacity;
    } else if (kept) {
        std::memmove(buffer_.get(), buffer_.get() + line_begin_, kept);
    }
    line_end_ -= line_begin_;
    line_begin_ = 0;
    filled_ = kept;
    std::size_t wanted = capacity_ - filled_;
    std::size_t got = stream_.read(buffer_.get() + filled_, wanted);
    filled_ += got;
    at_end_ = got < wanted;
}
