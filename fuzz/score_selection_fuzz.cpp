// The -b list parser on any text, or one of the screened characters: it ends,
// echoes each item it read as "N, " or "N-M, " and sets exactly their columns.
#include <cstdio>
#include <cstdlib>

#include <sys/mman.h>
#include <unistd.h>

#include "harness.h"
#include "score/score_selection.h"

namespace {

// strtol saturates as the parser does.
long read_number(const char*& p)
{
    FUZZ_CHECK(*p >= '0' && *p <= '9');
    return std::strtol(p, const_cast<char**>(&p), 10);
}

void one_input(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    static const char kScreened[] = "0123456789-, ";
    RunState state;
    state.coefficients.datacols = data[0] & 0x3f;
    state.options.flagline = "";
    for (std::size_t i = 1; i < size && data[i] != 0; ++i)
        *state.options.flagline +=
            data[0] & 0x80 ? kScreened[data[i] % (sizeof kScreened - 1)] : static_cast<char>(data[i]);
    // The echo goes to standard output, here a memory file for the parse.
    static const int memory = memfd_create("echo", 0);
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    FUZZ_CHECK(saved >= 0 && ftruncate(memory, 0) == 0 && lseek(memory, 0, SEEK_SET) == 0 && dup2(memory, 1) == 1);
    bool stopped = false;
    try {
        parsereadflags(state);
    } catch (const FatalStop&) {
        stopped = true;
    }
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    std::string echo(lseek(memory, 0, SEEK_END), '\0');
    FUZZ_CHECK(!stopped && pread(memory, echo.data(), echo.size(), 0) == static_cast<ssize_t>(echo.size()));
    FUZZ_CHECK(state.coefficients.readflag &&
               state.coefficients.readflag->size() == static_cast<std::size_t>(state.coefficients.datacols));

    // The flags the echoed items stand for; a range from 0 ends the list
    // without setting anything.
    std::vector<int> flags(state.coefficients.datacols, 0);
    FUZZ_CHECK(!echo.empty() && echo.back() == '\n');
    for (const char* p = echo.c_str(); *p != '\n'; p += 2) {
        long lo = read_number(p), hi = *p == '-' ? read_number(++p) : lo;
        FUZZ_CHECK(lo <= hi && p[0] == ',' && p[1] == ' ');
        for (long c = lo; lo >= 1 && c <= hi && c <= state.coefficients.datacols; ++c)
            flags[c - 1] = 1;
    }
    FUZZ_CHECK(*state.coefficients.readflag == flags);
}

}  // namespace

FUZZ_TARGET(score_selection, one_input)
