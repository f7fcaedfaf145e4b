// The number scanner against sscanf "%lg%n" (what it consumes, the bits);
// checkline and readline (its count and where its numbers end) must agree
// with a scan of one number at a time, and the table reading of a line whose
// fields are all numbers with readline, blank- or comma-separated.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "common/cpu.h"
#include "harness.h"
#include "read/table_format.h"
#include "read/text_input.h"

namespace {

// What the C library reads at `text`: consumed length (0 on failure) and value.
std::size_t library_scan(const char* text, double& value)
{
    int consumed = 0;
    return std::sscanf(text, "%lg%n", &value, &consumed) == 1 ? static_cast<std::size_t>(consumed) : 0;
}

// A line read as a table: when no field is bad, every field is one number,
// the same that readline reads; joined by commas instead, the same again.
void table_agrees(std::string text, const std::vector<double>& numbers, char delimiter)
{
    TableFormat format;
    format.na.clear();
    format.delimiter = delimiter;
    if (delimiter) {
        std::string joined;
        for (std::size_t i = 0; (i = text.find_first_not_of(" \t\n\v\f\r", i)) != std::string::npos;) {
            const std::size_t end = std::min(text.find_first_of(" \t\n\v\f\r", i), text.size());
            if (!joined.empty())
                joined += ',';
            joined.append(text, i, end - i);
            i = end;
        }
        text = joined;
    }
    const int size = static_cast<int>(numbers.size());
    std::vector<double> row(numbers.size());
    const RowFields found = RowReader(format).read(text, row.data(), size, nullptr, nullptr);
    // An empty field is a missing value; the values of a short row are
    // missing too, and then the count tells.
    if (found.bad_field >= 0 || found.missing > std::max(size - found.count, 0))
        return;
    FUZZ_CHECK(found.count == static_cast<int>(numbers.size()));
    for (std::size_t k = 0; k < numbers.size(); ++k)
        FUZZ_CHECK(bits(row[k]) == bits(numbers[k]));
}

// The first byte selects the row size and flags of readline; the scanners
// get the other bytes, where a NUL ends the text as it does for sscanf.
void one_input(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    double expected = 0.0, actual = 0.0;
    std::size_t length = library_scan(text.c_str(), expected);
    if (length != scan_number(text, actual) || (length != 0 && bits(expected) != bits(actual)))
        check_failed("scan_number on [" + text + "]: sscanf " + describe(expected) + ", scan_number " +
                     describe(actual));

    // readline stores the numbers into a row that may be smaller, guarded by
    // its exact size, dropping the columns whose selector bit is clear.
    std::vector<double> numbers, row(data[0] % 9, -1.0);
    for (const char* cursor = text.c_str(); std::size_t used = library_scan(cursor, actual); cursor += used)
        numbers.push_back(actual);
    const int count = checkline(text);
    FUZZ_CHECK(count == static_cast<int>(numbers.size()));
    std::vector<int> flags(row.size());
    for (std::size_t k = 0; k < row.size(); ++k)
        flags[k] = (data[0] >> (k % 8)) & 1;
    const bool use_flags = data[0] & 0x80;
    // readline's vector path and its portable one.
    for (Vectors widest : {Vectors::none, Vectors::avx512}) {
        limit_vectors(widest);
        std::fill(row.begin(), row.end(), -1.0);
        std::size_t stop = 0;
        FUZZ_CHECK(readline(text, row.data(), static_cast<int>(row.size()), use_flags ? flags.data() : nullptr,
                            &stop) == count &&
                   stop == numbers_end(text));
        for (std::size_t k = 0; k < row.size(); ++k) {
            const double expected_cell = static_cast<int>(k) >= count ? -1.0
                                         : use_flags && !flags[k]     ? 0.0
                                                                      : numbers[k];
            FUZZ_CHECK(bits(row[k]) == bits(expected_cell));
        }
    }
    if (text.find('"') == std::string::npos && text.find(',') == std::string::npos)
        for (const char delimiter : {'\0', ','})
            table_agrees(text, numbers, delimiter);
}

}  // namespace

FUZZ_TARGET(scanner, one_input)

#ifndef SCORIX_FUZZ
// Tokens of number fragments, doubles printed to 7 and 17 digits, lines.
TEST(ScannerOracle, SeededSweep)
{
    static const char* const pieces[] = {
        "0", "1",  "7",       "9",   ".",   "e",        "E",     "+",      "-",  "x",
        "X", "p",  "P",       "a",   "n",   "N",        "i",     "I",      "f",  "t",
        "y", " ",  "\t",      "inf", "nan", "infinity", "0x",    "1e",     "e-", "(",
        ")", "\n", "\r",      "\v",  "d",   "A",        "1e400", "1e-400", "\f", "123456789012345678901234567890",
        ",", "#",  "4.9e-324"};
    std::mt19937_64 rng(20261206);
    auto tokens = [&](std::size_t count, const char* separator) {
        std::string text(1, static_cast<char>(rng()));  // the selector
        while (count-- > 0)
            text += pieces[rng() % std::size(pieces)] + std::string(rng() % 3 ? "" : separator);
        return text;
    };
    // Printed doubles, near misses of plain numbers, bytes overwritten: lines
    // of every length across the scanner's 16-byte steps.
    static const char* const near_misses[] = {"1e5e3", "1.2.3", "5.e3", ".e3",   "-.5",   "1e",     "1e+",
                                              "-",     "+1",    "1-2",  "e5",    "1e5.3", "1.5e-3", "0x1",
                                              "-e",    "5.",    ".",    "1e+-5", "inf",   "1x",     "7,"};
    static const char noise[] = "0123456789.-+eE \t\n\v\f\rxin,\0";
    auto plain_line = [&] {
        std::string line(1, '\0');  // no row to store
        line.append(rng() % 70, ' ');
        char number[40];
        for (std::size_t count = rng() % 30; count > 0; --count) {
            std::snprintf(number, sizeof number, "%.*g", static_cast<int>(rng() % 18), std::bit_cast<double>(rng()));
            line += rng() % 16 ? std::string(number) : near_misses[rng() % std::size(near_misses)];
            line += rng() % 32 ? " " : rng() % 2 ? "\t" : "";
        }
        for (std::size_t changes = rng() % 4 / 3; changes > 0 && line.size() > 1; --changes)
            line[1 + rng() % (line.size() - 1)] = noise[rng() % (sizeof noise - 1)];
        line += rng() % 2 ? "\n" : "";
        return line;
    };
    char printed[64];
    const long n = std::getenv("SCORIX_LONG_SWEEP") ? 20'000'000 : 300'000;
    for (long i = 0; i < n; ++i) {
        feed(one_input, tokens(rng() % 9 + 1, ""));
        std::snprintf(printed, sizeof printed, i % 2 ? "\x01%.17g" : "\x01%.7g", std::bit_cast<double>(rng()));
        feed(one_input, printed);
        if (i % 10 == 0)
            feed(one_input, tokens(rng() % 40, " "));
        if (i % 10 == 5)
            feed(one_input, plain_line());
    }
}
#endif
