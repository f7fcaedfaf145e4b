// The number scanner against the C library's own "%lg" reading, and the
// line reader's handling of comments, long lines and the end of a file.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "number_count.h"
#include "support.h"
#include "text_input.h"

using namespace std::string_literals;

namespace {

// The scanner must consume what sscanf "%lg%n" consumes and yield its bits.
void expect_same_as_oracle(const std::string& text)
{
    double expected = 0, actual = 0;
    int used = -1;
    std::size_t want = std::sscanf(text.c_str(), "%lg%n", &expected, &used) == 1 ? static_cast<std::size_t>(used) : 0;
    ASSERT_EQ(want, scan_number(text, actual)) << "consumed length for [" << text << "]";
    if (want == 0)
        return;
    ASSERT_EQ(bits(expected), bits(actual))
        << "[" << text << "] expected " << describe(expected) << ", got " << describe(actual);
}

// checkline only finds the token ends; it must count what the converting
// scans (scan_number, readline) read, and readline must store their bits.
void expect_counting_and_storing_agree(const std::string& line)
{
    std::vector<double> expected;
    double value;
    for (std::string_view rest = line; std::size_t used = scan_number(rest, value); rest.remove_prefix(used))
        expected.push_back(value);
    int counted = checkline(line);
    ASSERT_EQ(counted, static_cast<int>(expected.size())) << "[" << line << "]";
    // The count-only recognizer counts the line or leaves it to the scanner;
    // its vector and portable classifiers decide alike.
    int plain = count_plain_numbers(line, false);
    ASSERT_TRUE(plain == -1 || plain == counted) << "[" << line << "] recognizer " << plain;
    ASSERT_EQ(vector_count_available() ? count_plain_numbers(line, true) : plain, plain) << "[" << line << "]";
    std::vector<double> stored(expected.size() + 1, -1.0);
    ASSERT_EQ(readline(line, stored.data(), counted, nullptr), counted) << "[" << line << "]";
    for (int k = 0; k < counted; ++k)
        ASSERT_EQ(bits(expected[k]), bits(stored[k])) << "[" << line << "] value " << k;
}

std::string random_token(std::mt19937_64& rng)
{
    static const char* const pieces[] = {"0", "1", "7", "9", ".", "e", "E", "+", "-", "x", "X", "p", "P", "a",
                                         "n", "N", "i", "I", "f", "t", "y", " ", "\t", "inf", "nan", "infinity",
                                         "0x", "1e", "e-", "(", ")", "\n", "\r", "\v", "d", "A", "1e400", "1e-400",
                                         "123456789012345678901234567890", "\f", ",", "#", "4.9e-324"};
    std::string token;
    for (std::size_t length = rng() % 9 + 1; length > 0; --length)
        token += pieces[rng() % std::size(pieces)];
    return token;
}

std::vector<std::string> lines_of(const std::string& bytes, std::string* last = nullptr)
{
    std::FILE* stream = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
    LineReader reader(stream);
    std::vector<std::string> lines;
    while (reader.myfgets())
        lines.emplace_back(reader.line());
    if (last)
        *last = reader.line();
    std::fclose(stream);
    return lines;
}

long sweep_size()
{
    return std::getenv("SCORIX_LONG_SWEEP") ? 20'000'000 : 300'000;
}

}  // namespace

TEST(NumberScanner, ReadsEdgeFormsAsTheCLibraryDoes)
{
    const char* const cases[] = {
        "1", "-1", "+3", "  4.5e-1", "\t-2", ".5", "5.", ".", "-", "+", "e5", "1e", "1e+", "1e-x", "1e+-5", "1.5.3",
        "3-4", "0x", "0x1p3", "0x1.8p-2", "0xg", "-0x", "0x.p1", "0x1p", "inf", "-inf", "INF", "infinity", "infin",
        "infx", "infinityx", "nan", "-nan", "NaN(123)", "na", "1e400", "-1e400", "1e-400", "4.9e-324",
        "2.4703282292062327e-324", "2.4703282292062328e-324", "1.7976931348623157e308", "1.7976931348623159e308",
        "0.1000000000000000055511151231257827021181583404541015625",
        "123456789012345678901234567890123456789012345678901234567890e-40", "9007199254740993", "-0", "-0.0e0",
        "00012", "1,2", "\v\f\r 7", "", "   ", "#1", "1\0 2", "0e", "0e+1", ".e1", "12345678", "123456789",
        "-1234567.8e1", "00000000000000000001", "99999999999999999999", "1e22", "1e23", "9007199254740992e-22",
        "9007199254740993e-22", "12345678.9.1", "1234567890123456789e-330", "0.000000000000000000000000001e330",
        "12345678x", "0x12345678",
    };
    for (const char* text : cases)
        expect_same_as_oracle(text);
}

// Random tokens of number fragments, random doubles printed to 7 and 17
// digits (every exponent, the rounding boundaries), and lines of tokens.
TEST(NumberScanner, AgreesWithTheCLibraryOnRandomTokensDoublesAndLines)
{
    std::mt19937_64 rng(20261206);
    char text[64];
    for (long i = 0; i < sweep_size() && !HasFatalFailure(); ++i) {
        expect_same_as_oracle(random_token(rng));
        std::snprintf(text, sizeof text, i % 2 ? "%.17g" : "%.7g", std::bit_cast<double>(rng()));
        expect_same_as_oracle(text);
        if (i % 10)
            continue;
        std::string line;
        for (std::size_t tokens = rng() % 6; tokens > 0; --tokens)
            line += random_token(rng) + (rng() % 3 ? " " : "");
        expect_counting_and_storing_agree(line);
    }
}

TEST(LineScan, CountingAndStoringAgreeWithTheScanner)
{
    const std::pair<std::string, int> lines[] = {
        {"1 2 3\n", 3}, {"  4.5e-1\t-2 +3\n", 3}, {"1,2,3\n", 1}, {"1 2 abc 3\n", 2}, {"1 2 3 # remark\n", 3},
        {"3-4\n", 2}, {"1e+-5\n", 2}, {"", 0}, {"  \n", 0}, {"1 2\r\n", 2}, {"1 2\0 3\n"s, 2}};
    for (const auto& [line, count] : lines) {
        EXPECT_EQ(checkline(line), count) << "[" << line << "]";
        expect_counting_and_storing_agree(line);
    }
}

// Lines of printed doubles with near misses of plain numbers glued on or
// bytes overwritten, of every length across the recognizer's 64-byte blocks.
TEST(LineScan, CountOnlyRecognizerAgreesWithTheScanner)
{
    const char* const near_misses[] = {"1e5e3", "1.2.3", "5.e3", ".e3", "-.5", "1e", "1e+", "-", "+1", "1-2", "e5",
                                       "1e5.3", "1.5e-3", "0x1", "-e", "5.", ".", "1e+-5", "inf", "1x", "7,"};
    const char noise[] = "0123456789.-+eE \t\n\v\f\rxin,\0";
    std::mt19937_64 rng(1206);
    long accepted = 0;
    char text[40];
    for (long i = 0; i < sweep_size() / 10 && !HasFatalFailure(); ++i) {
        std::string line(rng() % 70, ' ');
        for (std::size_t tokens = rng() % 30; tokens > 0; --tokens) {
            std::snprintf(text, sizeof text, "%.*g", static_cast<int>(rng() % 18), std::bit_cast<double>(rng()));
            line += rng() % 16 ? std::string(text) : near_misses[rng() % std::size(near_misses)];
            line += rng() % 32 ? " " : rng() % 2 ? "\t" : "";
        }
        for (std::size_t changes = rng() % 4 / 3; changes > 0 && !line.empty(); --changes)
            line[rng() % line.size()] = noise[rng() % (sizeof noise - 1)];
        expect_counting_and_storing_agree(line + (rng() % 2 ? "\n" : ""));
        accepted += count_plain_numbers(line, false) >= 0;
    }
    EXPECT_GT(accepted, sweep_size() / 50) << "the recognizer counted too few lines to be tested";
}

TEST(LineScan, StoresWithinCapacityAndAppliesTheSelection)
{
    double row[4] = {-1, -1, -1, -1};
    EXPECT_EQ(readline("1 2 3 4 5\n", row, 3, nullptr), 5);
    EXPECT_EQ(row[3], -1) << "nothing stored beyond the capacity";
    const int flags[3] = {1, 0, 1};
    EXPECT_EQ(readline("7 -8 9\n", row, 3, flags), 3);
    EXPECT_BITS_EQ(+0.0, row[1]) << "an unselected column reads as +0.0";
    EXPECT_EQ(row[2], 9);
}

TEST(LineReader, SkipsCommentLinesKeepsTheLastLineReadAndReadsLongLinesWhole)
{
    std::string last, numbers;
    auto lines = lines_of("# a\n!b\n;c\n  # kept\n\n\0x\n1 2"s, &last);
    EXPECT_EQ(lines, (std::vector<std::string>{"  # kept\n", "\n", "1 2"})) << "a last line without newline counts";
    EXPECT_EQ(last, "1 2");
    EXPECT_TRUE(lines_of("# only\n# comments\n", &last).empty());
    EXPECT_EQ(last, "# comments\n");
    EXPECT_TRUE(lines_of("", &last).empty());
    EXPECT_EQ(last, "");

    for (int i = 0; i < 40'000; ++i)
        numbers += "1.25 ";
    // The last line runs across the end of the first megabyte read.
    lines = lines_of("#" + numbers + "\n" + numbers + "\n" + numbers + numbers + numbers + numbers + "\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(checkline(lines[0]), 40'000);
    EXPECT_EQ(checkline(lines[1]), 160'000);
}
