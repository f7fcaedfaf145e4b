#include "common/console.h"

#include "common/progress.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

[[noreturn]] void wait_and_exit()
{
    // Holds a terminal user's window until a line is entered. Standard input
    // that is not a terminal belongs to the caller's script (the next name of
    // a `while read` loop, say): not a byte of it is taken.
    if (::isatty(STDIN_FILENO))
        std::getchar();
    std::exit(1);
}

FatalHandler fatal_handler = wait_and_exit;
std::FILE* console = stdout;
const char* error_note = nullptr;

// What higher modules asked to undo when a run ends by a fatal error.
constexpr int kMaxCleanups = 4;
FatalCleanup cleanups[kMaxCleanups] = {};

// Every text is flushed at once, so the console keeps program order even
// where standard error comes between standard output. A progress line on
// the terminal is erased first; a text that leaves its line open there keeps
// progress lines away until the line ends.
void print(std::FILE* stream, const char* format, va_list args)
{
    ProgressPause pause;
    va_list again;
    va_copy(again, args);
    char small[256];
    const int length = std::vsnprintf(small, sizeof small, format, args);
    std::string large;
    const char* text = small;
    if (length >= static_cast<int>(sizeof small)) {
        large.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        text = large.data();
    }
    va_end(again);
    if (length <= 0)
        return;
    std::fwrite(text, 1, static_cast<std::size_t>(length), stream);
    std::fflush(stream);
    const int saved = errno;
    set_console_line_open(text[length - 1] != '\n' && ::isatty(::fileno(stream)));
    errno = saved;
}

}  // namespace

void hold_standard_descriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF)
            continue;
        // The lowest free number is taken: the ones below are open by now.
        if (::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) != fd)
            std::exit(1);
    }
}

void message(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    print(console, format, args);
    va_end(args);
}

void console_to_stderr()
{
    console = stderr;
}

void set_error_note(const char* note)
{
    error_note = note;
}

void warning(const char* format, ...)
{
    ProgressPause pause;  // before the first byte, which would follow the line
    std::fputs("scorix: warning: ", stderr);
    va_list args;
    va_start(args, format);
    print(stderr, format, args);
    va_end(args);
}

void error(const char* format, ...)
{
    end_progress();
    va_list args;
    va_start(args, format);
    print(stderr, format, args);
    va_end(args);
    if (error_note) {
        std::fputs(error_note, stderr);
        std::fflush(stderr);
    }
    for (FatalCleanup cleanup : cleanups)
        if (cleanup)
            cleanup();
    fatal_handler();
    std::abort();  // a handler that returns breaks the contract
}

void count_mismatch(int site, const char* first, int first_count, const char* second, int second_count)
{
    error("Error %s %d:\nnumber of %s (%d) and\nnumber of %s (%d) is missmatched\n", kErrorLabel, site, first,
          first_count, second, second_count);
}

void at_fatal_error(FatalCleanup cleanup)
{
    for (FatalCleanup& slot : cleanups) {
        if (slot == cleanup)
            return;
        if (!slot) {
            slot = cleanup;
            return;
        }
    }
    std::abort();  // more clean-ups than any module registers
}

void set_fatal_handler(FatalHandler handler)
{
    fatal_handler = handler ? handler : wait_and_exit;
}
