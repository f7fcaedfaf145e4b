// The number scanner against the C library: for any bytes, scan_number must
// consume what sscanf "%lg%n" consumes and give the same bits, and
// checkline/readline and the count-only recognizer (both classifiers) must
// agree with a scan of one number at a time.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "number_count.h"
#include "text_input.h"

namespace {

std::uint64_t bits(double value)
{
    std::uint64_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

// What the C library reads at `text`: consumed length (0 on failure) and value.
std::size_t library_scan(const char* text, double& value)
{
    int consumed = 0;
    if (std::sscanf(text, "%lg%n", &value, &consumed) != 1)
        return 0;
    return static_cast<std::size_t>(consumed);
}

void compare_one_number(const std::string& text)
{
    double expected = 0.0;
    double actual = 0.0;
    std::size_t expected_length = library_scan(text.c_str(), expected);
    std::size_t actual_length = scan_number(text, actual);
    if (expected_length != actual_length || (expected_length != 0 && bits(expected) != bits(actual))) {
        std::fprintf(stderr, "input \"%s\": sscanf %zu %a, scan_number %zu %a\n", text.c_str(), expected_length,
                     expected, actual_length, actual);
        check_failed("scan_number differs from sscanf");
    }
}

// The numbers at the start of the line, one sscanf at a time.
std::vector<double> library_numbers(const std::string& line)
{
    std::vector<double> numbers;
    const char* cursor = line.c_str();
    double value;
    while (std::size_t used = library_scan(cursor, value)) {
        numbers.push_back(value);
        cursor += used;
    }
    return numbers;
}

void compare_line(const std::string& line, std::uint8_t selector)
{
    std::vector<double> expected = library_numbers(line);
    int count = checkline(line);
    FUZZ_CHECK(count == static_cast<int>(expected.size()));
    int plain = count_plain_numbers(line, false);
    FUZZ_CHECK(plain == -1 || plain == count);
    FUZZ_CHECK(!vector_count_available() || count_plain_numbers(line, true) == plain);

    // A row smaller than the line, guarded by its exact allocation; flags
    // drop every column whose bit in the selector is clear.
    int capacity = selector % 9;
    std::vector<double> row(static_cast<std::size_t>(capacity), -1.0);
    std::vector<int> flags(static_cast<std::size_t>(capacity));
    for (int k = 0; k < capacity; ++k)
        flags[static_cast<std::size_t>(k)] = (selector >> (k % 8)) & 1;
    bool use_flags = selector & 0x80;
    int stored = readline(line, row.data(), capacity, use_flags ? flags.data() : nullptr);
    FUZZ_CHECK(stored == count);
    for (int k = 0; k < capacity; ++k) {
        std::size_t i = static_cast<std::size_t>(k);
        double want = k >= count ? -1.0 : (use_flags && !flags[i]) ? +0.0 : expected[i];
        FUZZ_CHECK(bits(row[i]) == bits(want));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The scanners get every byte; a NUL byte must end the text for them as
    // it does for the C library, which sees only the text before it.
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    compare_one_number(text);
    compare_line(text, data[0]);
    return 0;
}
