#include "read/text_input.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

bool iscomment(std::string_view line)
{
    return line.empty() || line[0] == '\0' || strCommentChars.find(line[0]) != std::string_view::npos;
}

std::string_view line_text(std::string_view line)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

bool make_room(std::unique_ptr<char[]>& text, std::size_t& capacity, std::size_t size, const char* from,
               std::size_t kept)
{
    if (capacity >= size) {
        if (kept && from != text.get())
            std::memmove(text.get(), from, kept);
        return true;
    }
    std::unique_ptr<char[]> larger;
    try {
        larger = std::make_unique_for_overwrite<char[]>(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (kept)
        std::memcpy(larger.get(), from, kept);
    text = std::move(larger);
    capacity = size;
    return true;
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
    std::size_t end = npos;
    for (;;) {
        end = newline_end(buffer_.get(), searched, filled_);
        if (end == npos)
            end = last_line_end(begin, filled_);
        if (end != npos)
            break;
        if (at_end())
            return false;
        // memchr resumes where it stopped, so a long line is searched once.
        searched = filled_ - line_begin_;
        begin -= line_begin_;
        refill();
        if (failed_)
            return false;
    }
    line_begin_ = begin;
    line_end_ = end;
    count_lines(1);
    return true;
}

void LineReader::refill()
{
    constexpr std::size_t kBlock = 1 << 20;
    const std::size_t kept = filled_ - line_begin_;
    const std::size_t size = capacity_ - kept < kBlock / 2 ? std::max(kBlock, 2 * capacity_) : capacity_;
    // A line that does not fit in memory must not pass for the end.
    if (!make_room(buffer_, capacity_, size, buffer_.get() + line_begin_, kept)) {
        failed_ = true;
        return;
    }
    line_end_ -= line_begin_;
    line_begin_ = 0;
    filled_ = kept;
    filled_ += fill(buffer_.get() + filled_, capacity_ - filled_);
}
