// The coefficient file reader on any bytes: it loads or stops with a fatal
// error; a set the driver accepts has the shapes the transforms rely on and
// is inverted as the inverse transform does.
#include "harness.h"
#include "score/coefficient_file.h"
#include "score/driver.h"
#include "score/matinv.h"

namespace {

void one_input(const std::uint8_t* data, std::size_t size)
{
    static ScratchDir dir;
    dir.write("c.fsc", std::string(reinterpret_cast<const char*>(data), size));
    RunState state;
    state.options.fscname = dir.file("c.fsc");
    state.options.global = size > 0 && (data[size - 1] & 1);
    try {
        readfsc(state, state.options.fscname->c_str());
        check_vector_lengths(state);
    } catch (const FatalStop&) {
        return;
    }
    int n = state.coefficients.datacols;
    FUZZ_CHECK(n >= 0 && state.coefficients.std->size() == static_cast<std::size_t>(n));
    FUZZ_CHECK(state.coefficients.fsc->size() == static_cast<std::size_t>(n) * n &&
               (!state.coefficients.mean || state.coefficients.mean->size() == state.coefficients.std->size()));
    if (n == 0 || n > 64)  // big orders cost time, not coverage
        return;
    std::vector<int> pivots(static_cast<std::size_t>(n));
    int status = 0;
    double det = 0.0;
    matinv(&status, n, n, state.coefficients.fsc->data(), n, pivots.data(), &det);
    FUZZ_CHECK(status == 1 || status == 2);
    for (int k = 0; status == 1 && k < n; ++k)
        FUZZ_CHECK(pivots[static_cast<std::size_t>(k)] >= k && pivots[static_cast<std::size_t>(k)] < n);
}

}  // namespace

FUZZ_TARGET(coefficient_file, one_input)
