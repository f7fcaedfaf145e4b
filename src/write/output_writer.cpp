#include "write/output_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <unistd.h>

#include "common/console.h"
#include "common/progress.h"

bool writes_to_standard_output(std::string_view path)
{
    return path == "-" || path == "/dev/stdin" || path.starts_with("/dev/fd/");
}

std::string output_name(std::string_view path, std::string_view ext)
{
    std::size_t component = path.rfind('/');
    component = (component == std::string_view::npos) ? 0 : component + 1;
    std::size_t dot = path.rfind('.');
    std::string name(path);
    if (dot != std::string_view::npos && dot > component)
        name.resize(dot);
    name += ext;
    return name;
}

bool write_all(int fd, const char* bytes, std::size_t count)
{
    while (count > 0) {
        ssize_t written = ::write(fd, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        count -= static_cast<std::size_t>(written);
    }
    return true;
}

namespace {

constexpr std::size_t kBufferBytes = 1 << 20;

}  // namespace

char* format_rows(const RowMatrix& result, int rows, int scores, char* text)
{
    for (int r = 0; r < rows; ++r) {
        const double* row = result.row(r);
        for (int c = 0; c < scores; ++c) {
            if (c > 0)
                *text++ = ' ';
            text = format_value(text, row[c]);
        }
        *text++ = '\n';
    }
    return text;
}

char* format_table_rows(const RowMatrix& result, int rows, int scores, char separator, char decimal,
                        std::string_view labels, const std::size_t* label_ends, const char* missing, char* text)
{
    std::size_t label_begin = 0;
    for (int r = 0; r < rows; ++r) {
        const std::size_t label_end = label_ends[r];
        text = std::copy(labels.data() + label_begin, labels.data() + label_end, text);
        label_begin = label_end;
        const double* row = result.row(r);
        for (int c = 0; c < scores; ++c) {
            if (c > 0)
                *text++ = separator;
            if (missing[r])
                text = std::copy_n("NA", 2, text);
            else {
                char* const value = text;
                text = format_value(text, row[c]);
                if (decimal != '.')
                    std::replace(value, text, '.', decimal);
            }
        }
        *text++ = '\n';
    }
    return text;
}

OutputFile::OutputFile(AtomicFile file, bool streams)
    : file_(std::move(file)), streams_(streams), buffer_(std::make_unique_for_overwrite<char[]>(kBufferBytes))
{
    const int saved = errno;
    terminal_ = streams_ && file_.fd() >= 0 && ::isatty(file_.fd());
    errno = saved;
}

void OutputFile::write_out(const char* bytes, std::size_t size)
{
    if (failed_ || file_.fd() < 0 || size == 0)
        return;
    if (streams_)
        set_error_note("scorix: the output on standard output is incomplete\n");
    if (!terminal_) {
        failed_ = !write_all(file_.fd(), bytes, size);
        return;
    }
    // Scores on the terminal: the progress line goes first, and stays away
    // while a row is cut between two writes.
    ProgressPause pause;
    failed_ = !write_all(file_.fd(), bytes, size);
    set_console_line_open(bytes[size - 1] != '\n');
}

void OutputFile::flush()
{
    write_out(buffer_.get(), used_);
    used_ = 0;
}

void OutputFile::write(std::string_view text)
{
    if (used_ + text.size() > kBufferBytes)
        flush();
    if (text.size() >= kBufferBytes) {
        write_out(text.data(), text.size());
        return;
    }
    text.copy(buffer_.get() + used_, text.size());
    used_ += text.size();
}

void OutputFile::finish()
{
    if (file_.fd() < 0)
        error("Error %s %d:opening %s\n", kErrorLabel, 761, file_.name().c_str());
    flush();
    // A file whose writing failed never takes the place of the old one.
    if (failed_ || !file_.commit())
        error("Error %s %d:writing %s\n", kErrorLabel, 762, file_.name().c_str());
    set_error_note(nullptr);
}
