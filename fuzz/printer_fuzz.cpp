// The value printer against the C library: format_value must print every
// double as printf's "%-.7g" does.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "harness.h"
#include "write/printer.h"

namespace {

// Eight bytes after the first are a double's bits, used as they are or, by
// the first byte, as scaled mantissas and ties (n + 0.5) x 10^j and x 2^j,
// which stay on the exact integer path.
void one_input(const std::uint8_t* data, std::size_t size)
{
    if (size < 9)
        return;
    std::uint64_t r;
    std::memcpy(&r, data + 1, sizeof r);
    const double tie = static_cast<double>(1000000 + r % 9000000) + 0.5;
    const double value = data[0] % 4 == 1   ? std::ldexp(static_cast<double>(r >> 11), static_cast<int>(r % 130) - 130)
                         : data[0] % 4 == 2 ? tie * std::pow(10.0, static_cast<int>(r >> 40) % 9)
                         : data[0] % 4 == 3 ? -std::ldexp(tie, static_cast<int>(r >> 40) % 40 - 30)
                                            : std::bit_cast<double>(r);
    char expected[64], actual[kValueChars];
    const std::string want(expected, std::snprintf(expected, sizeof expected, "%-.7g", value));
    if (std::string(actual, format_value(actual, value)) != want)
        check_failed("format_value(" + describe(value) + ") differs from printf's " + want);
}

}  // namespace

FUZZ_TARGET(printer, one_input)

#ifndef SCORIX_FUZZ
TEST(PrinterOracle, SeededSweep)
{
    std::mt19937_64 rng(314);
    std::string input(9, '\0');
    for (long i = 0, n = std::getenv("SCORIX_LONG_SWEEP") ? 40'000'000 : 800'000; i < n; ++i) {
        for (char& byte : input)
            byte = static_cast<char>(rng());
        feed(one_input, input);
    }
}
#endif
