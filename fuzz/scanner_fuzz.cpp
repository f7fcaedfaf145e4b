// The number scanner against the C library: for any bytes, scan_number must
// consume what sscanf "%lg%n" consumes and give the same bits, and
// checkline/readline must agree with a scan of one number at a time.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "harness.h"
#include "text_input.h"

namespace {

// What the C library reads at `text`: consumed length (0 on failure) and value.
std::size_t library_scan(const char* text, double& value)
{
    int consumed = 0;
    return std::sscanf(text, "%lg%n", &value, &consumed) == 1 ? static_cast<std::size_t>(consumed) : 0;
}

void compare_one_number(const std::string& text)
{
    double expected = 0.0, actual = 0.0;
    std::size_t expected_length = library_scan(text.c_str(), expected);
    std::size_t actual_length = scan_number(text, actual);
    if (expected_length != actual_length || (expected_length != 0 && bits(expected) != bits(actual)))
        check_failed("scan_number differs from sscanf on [" + text + "]: sscanf " + std::to_string(expected_length) +
                     " " + describe(expected) + ", scan_number " + std::to_string(actual_length) + " " +
                     describe(actual));
}

// checkline counts the numbers at the start of the line; readline stores
// them into a row smaller than the line, guarded by its exact allocation,
// with the flags dropping every column whose bit in the selector is clear.
void compare_line(const std::string& line, std::uint8_t selector)
{
    std::vector<double> expected;
    double value;
    for (const char* cursor = line.c_str(); std::size_t used = library_scan(cursor, value); cursor += used)
        expected.push_back(value);
    int count = checkline(line);
    FUZZ_CHECK(count == static_cast<int>(expected.size()));
    int capacity = selector % 9;
    std::vector<double> row(static_cast<std::size_t>(capacity), -1.0);
    std::vector<int> flags(static_cast<std::size_t>(capacity));
    for (int k = 0; k < capacity; ++k)
        flags[static_cast<std::size_t>(k)] = (selector >> (k % 8)) & 1;
    bool use_flags = selector & 0x80;
    FUZZ_CHECK(readline(line, row.data(), capacity, use_flags ? flags.data() : nullptr) == count);
    for (std::size_t k = 0; k < row.size(); ++k) {
        double want = static_cast<int>(k) >= count ? -1.0 : (use_flags && !flags[k]) ? +0.0 : expected[k];
        FUZZ_CHECK(bits(row[k]) == bits(want));
    }
}

// The first byte selects the row; the scanners get every other byte. A NUL
// byte must end the text for them as it does for the C library.
void one_input(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    compare_one_number(text);
    compare_line(text, data[0]);
}

}  // namespace

FUZZ_TARGET(scanner, one_input)

#ifndef SCORIX_FUZZ
// Random tokens of number fragments, random doubles printed to 7 and 17
// digits (every exponent, the rounding boundaries), and lines of tokens.
TEST(ScannerOracle, SeededSweep)
{
    static const char* const pieces[] = {"0",       "1",        "7",
                                         "9",       ".",        "e",
                                         "E",       "+",        "-",
                                         "x",       "X",        "p",
                                         "P",       "a",        "n",
                                         "N",       "i",        "I",
                                         "f",       "t",        "y",
                                         " ",       "\t",       "inf",
                                         "nan",     "infinity", "0x",
                                         "1e",      "e-",       "(",
                                         ")",       "\n",       "\r",
                                         "\v",      "d",        "A",
                                         "1e400",   "1e-400",   "123456789012345678901234567890",
                                         "\f",      ",",        "#",
                                         "4.9e-324"};
    std::mt19937_64 rng(20261206);
    auto token = [&] {
        std::string text;
        for (std::size_t length = rng() % 9 + 1; length > 0; --length)
            text += pieces[rng() % std::size(pieces)];
        return text;
    };
    char printed[64];
    for (long i = 0, n = std::getenv("SCORIX_LONG_SWEEP") ? 20'000'000 : 300'000; i < n; ++i) {
        feed(one_input, static_cast<char>(rng()) + token());
        std::snprintf(printed, sizeof printed, i % 2 ? "\x01%.17g" : "\x01%.7g", std::bit_cast<double>(rng()));
        feed(one_input, printed);
        if (i % 10)
            continue;
        std::string line(1, static_cast<char>(rng()));
        for (std::size_t tokens = rng() % 6; tokens > 0; --tokens)
            line += token() + (rng() % 3 ? " " : "");
        feed(one_input, line);
    }
}
#endif
