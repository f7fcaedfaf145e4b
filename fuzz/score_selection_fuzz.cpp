// The -b list parser on any text, and on texts of the characters that pass
// the command line's screening: it must end, touch no flag past datacols,
// echo each item it looked at as "N, " or "N-M, " and set exactly the
// columns of the items it echoed.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

#include "fuzz_support.h"
#include "run_state.h"
#include "score_selection.h"

namespace {

// Standard output goes to a memory file so that the echo can be checked.
int capture_stdout()
{
    static int fd = [] {
        int memory = memfd_create("echo", 0);
        if (memory < 0 || dup2(memory, STDOUT_FILENO) < 0)
            check_failed("capturing standard output");
        return memory;
    }();
    std::fflush(stdout);
    if (ftruncate(fd, 0) != 0 || lseek(STDOUT_FILENO, 0, SEEK_SET) != 0)
        check_failed("resetting standard output");
    return fd;
}

std::string captured(int fd)
{
    std::fflush(stdout);
    std::string text(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)), '\0');
    if (pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        check_failed("reading the echo");
    return text;
}

long read_number(const char*& p)
{
    FUZZ_CHECK(*p >= '0' && *p <= '9');
    long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = value > (LONG_MAX - 9) / 10 ? LONG_MAX : value * 10 + (*p - '0');
    return value;
}

// Parses the echo and returns the flags its items stand for.
std::vector<int> flags_from_echo(const std::string& echo, int datacols)
{
    std::vector<int> flags(static_cast<std::size_t>(datacols), 0);
    FUZZ_CHECK(!echo.empty() && echo.back() == '\n');
    const char* p = echo.c_str();
    while (*p != '\n') {
        long lo = read_number(p);
        long hi = lo;
        if (*p == '-') {
            ++p;
            hi = read_number(p);
            FUZZ_CHECK(lo <= hi);
        }
        FUZZ_CHECK(p[0] == ',' && p[1] == ' ');
        p += 2;
        // A range from 0 ends the list without setting anything.
        for (long c = lo; lo >= 1 && c <= hi && c <= datacols; ++c)
            flags[static_cast<std::size_t>(c - 1)] = 1;
    }
    FUZZ_CHECK(p[1] == '\0');
    return flags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    catch_fatal_errors();
    static const char kScreened[] = "0123456789-, ";
    bool screened = data[0] & 0x80;
    std::string list;
    for (std::size_t i = 1; i < size && data[i] != 0; ++i)
        list += screened ? kScreened[data[i] % (sizeof kScreened - 1)] : static_cast<char>(data[i]);

    RunState state;
    state.datacols = data[0] & 0x3f;
    state.flagline = list;
    int fd = capture_stdout();
    try {
        parsereadflags(state);
    } catch (const FatalStop&) {
        check_failed("a fatal error for a small selection");
    }
    FUZZ_CHECK(state.readflag && state.readflag->size() == static_cast<std::size_t>(state.datacols));
    FUZZ_CHECK(*state.readflag == flags_from_echo(captured(fd), state.datacols));
    return 0;
}
