// The coefficient file reader on any bytes: it loads or stops with a fatal
// error, never reads or writes out of bounds, and a set that the driver
// accepts has the shapes the transforms rely on. An accepted set is also
// inverted, as the inverse transform does.
#include <cstdint>
#include <vector>

#include "coefficient_file.h"
#include "driver.h"
#include "fuzz_support.h"
#include "matinv.h"
#include "run_state.h"

namespace {

void check_shapes(const RunState& state)
{
    std::size_t n = static_cast<std::size_t>(state.datacols);
    FUZZ_CHECK(state.datacols >= 0);
    FUZZ_CHECK(state.std->size() == n);
    FUZZ_CHECK(state.fsc->size() == n * n);
    FUZZ_CHECK(!state.mean || state.mean->size() == n);
}

void invert(RunState& state)
{
    std::size_t n = static_cast<std::size_t>(state.datacols);
    if (n == 0 || n > 64)  // big orders cost time, not coverage
        return;
    std::vector<int> pivots(n);
    int status = 0;
    int flag = 0;
    double det = 0.0;
    matinv(&status, &flag, state.datacols, state.datacols, state.fsc->data(), state.datacols, pivots.data(), &det);
    FUZZ_CHECK(status == 1 || status == 2);
    if (status == 1)
        for (std::size_t k = 0; k < n; ++k)
            FUZZ_CHECK(pivots[k] >= static_cast<int>(k) && pivots[k] < state.datacols);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static InputFile input("coefficients.fsc");
    catch_fatal_errors();
    input.write(data, size);
    RunState state;
    state.fscname = input.path();
    state.global = size > 0 && (data[size - 1] & 1);
    try {
        readfsc(state, input.path().c_str());
        check_vector_lengths(state);
    } catch (const FatalStop&) {
        return 0;
    }
    check_shapes(state);
    invert(state);
    return 0;
}
