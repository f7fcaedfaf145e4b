#include "score/score_selection.h"

#include <cstdio>
#include <utility>

#include "common/allocation.h"
#include "common/console.h"

namespace {

// First position at or after `p` that is not white space or a comma.
const char* eatwhite(const char* p)
{
    while (*p == ',' || *p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    return p;
}

// First position at or after `p` that is not a decimal digit.
const char* eat_positive_int(const char* p)
{
    while (*p >= '0' && *p <= '9')
        ++p;
    return p;
}

// Moves past one item: the first number's digits, then for a range the
// hyphen and the second number's digits, with blanks and commas between.
const char* skip_item(const char* p, bool range)
{
    p = eatwhite(eat_positive_int(p));
    if (range) {
        if (*p)
            ++p;
        p = eatwhite(eat_positive_int(eatwhite(p)));
    }
    return p;
}

// Applies one item; false when it ends the list.
bool apply_item(RunState& state, long lo, long hi, bool range)
{
    if (!range) {
        hi = lo;
        if (!state.options.quiet)
            message("%ld, ", lo);
    } else {
        if (hi < lo)
            std::swap(lo, hi);
        if (!state.options.quiet)
            message("%ld-%ld, ", lo, hi);
        if (lo < 1)  // a range reaching down to 0 has no column to start from
            return false;
    }
    if (lo > state.coefficients.datacols)
        return false;
    if (hi > state.coefficients.datacols)
        hi = state.coefficients.datacols;
    for (long c = lo - 1; c < hi; ++c)
        (*state.coefficients.readflag)[static_cast<std::size_t>(c)] = 1;
    return true;
}

}  // namespace

void parsereadflags(RunState& state)
{
    state.coefficients.readflag = allocate_zeroed<int>(static_cast<unsigned>(state.coefficients.datacols), 371);
    if (!state.options.flagline) {
        for (int& flag : *state.coefficients.readflag)
            flag = 1;
        return;
    }
    const char* cursor = state.options.flagline->c_str();
    for (;;) {
        long lo = -1;
        long hi = -1;
        cursor = eatwhite(cursor);
        int converted = std::sscanf(cursor, "%ld - %ld", &lo, &hi);
        if (converted < 1 || lo < 1)
            break;
        bool range = hi >= 0;
        if (!apply_item(state, lo, hi, range))
            break;
        const char* next = skip_item(cursor, converted == 2);
        if (next == cursor)  // a form the list cannot step over ends it
            break;
        cursor = next;
    }
    if (!state.options.quiet)
        message("\n");
}
