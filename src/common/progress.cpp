#include "common/progress.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <mutex>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Work shorter than this shows no line at all; a shown line is redrawn at
// most once per interval.
constexpr auto kQuietStart = std::chrono::seconds(1);
constexpr auto kRedraw = std::chrono::milliseconds(250);

constexpr char kErase[] = "\r\033[K";

ProgressMode mode = ProgressMode::automatic;

// The terminal's line: who may write it, and what it holds. Recursive, so
// that a fatal error raised while a pause is held still gets through.
std::recursive_mutex terminal;
std::atomic<bool> shown{false};      // a progress line stands on the terminal (read by a signal handler)
bool ended = false;                  // a fatal error: no line from now on
bool line_open = false;              // the console is building a line there
int pauses = 0;                      // other text being written
std::atomic<bool> under_way{false};  // one progress draws at a time: the outermost work

void write_all(const char* text, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(STDERR_FILENO, text, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;  // the line is a courtesy: a terminal that fails is left alone
        text += written;
        size -= static_cast<std::size_t>(written);
    }
}

void erase_line()
{
    if (!shown)
        return;
    const int saved = errno;
    write_all(kErase, sizeof kErase - 1);
    errno = saved;
    shown = false;
}

// "12 MB", "1.2 GB": decimal units, as disks and rates are given.
std::string size_text(double bytes)
{
    static const char* const units[] = {"B", "kB", "MB", "GB", "TB", "PB"};
    int unit = 0;
    while (bytes >= 999.5 && unit < 5) {
        bytes /= 1000;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit > 0 && bytes < 9.95 ? "%.1f %s" : "%.0f %s", bytes, units[unit]);
    return text;
}

// "0:07", "12:34", "1:02:03".
std::string time_text(double seconds)
{
    const long long whole = static_cast<long long>(std::ceil(std::min(seconds, 1e9)));
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// The columns of the terminal on standard error; 0 when it does not say.
int terminal_width()
{
    winsize size{};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 ? size.ws_col : 0;
}

}  // namespace

void set_progress_mode(ProgressMode chosen)
{
    mode = chosen;
}

Progress::Progress(std::string label, long long total, bool bytes, const std::atomic<long long>* counter)
    : label_(std::move(label)),
      total_(total),
      bytes_(bytes),
      counter_(counter),
      owner_(std::this_thread::get_id()),
      start_(Clock::now()),
      next_draw_(start_ + kQuietStart)
{
    const bool enabled = mode == ProgressMode::on || (mode == ProgressMode::automatic && ::isatty(STDERR_FILENO));
    live_ = enabled && !under_way.exchange(true);
}

Progress::~Progress()
{
    if (!live_)
        return;
    {
        std::lock_guard lock(terminal);
        erase_line();
    }
    under_way = false;
}

void Progress::draw_if_due()
{
    const Clock::time_point now = Clock::now();
    if (now < next_draw_)
        return;
    next_draw_ = now + kRedraw;
    std::unique_lock lock(terminal, std::try_to_lock);
    if (!lock || ended || pauses > 0 || line_open)
        return;  // drawn next time

    const long long done = (counter_ ? *counter_ : own_).load(std::memory_order_relaxed);
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = static_cast<double>(done) / seconds;
    std::string text = label_;
    if (bytes_ && total_ >= 0)
        text += ' ' + std::to_string(total_ > 0 ? std::min(100LL, done * 100 / total_) : 100) + '%';
    else if (bytes_)
        text += ' ' + size_text(static_cast<double>(done));
    else
        text += ' ' + std::to_string(done) + (total_ >= 0 ? '/' + std::to_string(total_) : std::string());
    text += ' ' + (bytes_ ? size_text(rate) : std::to_string(std::llround(rate))) + "/s";
    if (total_ >= 0 && rate > 0)
        text += ' ' + time_text(static_cast<double>(std::max(0LL, total_ - done)) / rate) + " left";
    // A line that wraps could not be erased by going back to its start.
    const int width = terminal_width();
    if (width > 1 && text.size() >= static_cast<std::size_t>(width))
        text.resize(static_cast<std::size_t>(width) - 1);
    const std::string line = '\r' + text + "\033[K";
    const int saved = errno;
    shown = true;  // before the line: an interrupt while it is written still erases it
    write_all(line.data(), line.size());
    errno = saved;
}

ProgressPause::ProgressPause()
{
    terminal.lock();
    ++pauses;
    erase_line();
}

ProgressPause::~ProgressPause()
{
    --pauses;
    terminal.unlock();
}

void erase_progress_on_signal()
{
    static_assert(std::atomic<bool>::is_always_lock_free);
    if (!shown.load(std::memory_order_relaxed))
        return;
    const int saved = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, kErase, sizeof kErase - 1);
    errno = saved;
}

void end_progress()
{
    std::lock_guard lock(terminal);
    erase_line();
    ended = true;
}

void set_console_line_open(bool open)
{
    std::lock_guard lock(terminal);
    line_open = open;
}
