// The number scanner against the C library's own "%lg" reading, and the
// line reader's handling of comments, long lines and the end of a file.
#include <cstdio>
#include <random>
#include <string>

#include "support.h"
#include "text_input.h"

namespace {

// Reads one number with sscanf "%lg%n": the consumed length, 0 on failure.
std::size_t oracle(const std::string& text, double& value)
{
    int used = -1;
    return std::sscanf(text.c_str(), "%lg%n", &value, &used) == 1 ? static_cast<std::size_t>(used) : 0;
}

void expect_same_as_oracle(const std::string& text)
{
    double expected = 0;
    double actual = 0;
    std::size_t want = oracle(text, expected);
    std::size_t got = scan_number(text, actual);
    ASSERT_EQ(want, got) << "consumed length for [" << text << "]";
    if (want) {
        ASSERT_EQ(bits(expected), bits(actual)) << "[" << text << "] expected " << describe(expected) << ", got "
                                                << describe(actual);
    }
}

std::string random_token(std::mt19937_64& rng)
{
    static const char* const pieces[] = {"0", "1", "7", "9", ".", "e", "E", "+", "-", "x", "X", "p", "P", "a",
                                         "n", "N", "i", "I", "f", "t", "y", " ", "\t", "inf", "nan", "infinity",
                                         "0x", "1e", "e-", "(", ")", "\n", "\r", "\v", "d", "A", "1e400", "1e-400",
                                         "123456789012345678901234567890", "\f", ",", "#", "4.9e-324"};
    constexpr std::size_t kPieces = sizeof pieces / sizeof *pieces;
    std::string token;
    std::size_t length = rng() % 9 + 1;
    for (std::size_t i = 0; i < length; ++i)
        token += pieces[rng() % kPieces];
    return token;
}

long sweep_size()
{
    const char* long_sweep = std::getenv("SCORIX_LONG_SWEEP");
    return long_sweep ? 20'000'000 : 300'000;
}

}  // namespace

TEST(NumberScanner, ReadsEdgeFormsAsTheCLibraryDoes)
{
    const char* const cases[] = {
        "1",        "-1",          "+3",          "  4.5e-1",     "\t-2",       ".5",          "5.",
        ".",        "-",           "+",           "e5",           "1e",         "1e+",         "1e-x",
        "1e+-5",    "1.5.3",       "3-4",         "0x",           "0x1p3",      "0x1.8p-2",    "0xg",
        "-0x",      "0x.p1",       "0x1p",        "inf",          "-inf",       "INF",         "infinity",
        "infin",    "infx",        "infinityx",   "nan",          "-nan",       "NaN(123)",    "na",
        "1e400",    "-1e400",      "1e-400",      "4.9e-324",     "2.4703282292062327e-324",
        "2.4703282292062328e-324", "1.7976931348623157e308",      "1.7976931348623159e308",
        "0.1000000000000000055511151231257827021181583404541015625",
        "123456789012345678901234567890123456789012345678901234567890e-40",
        "9007199254740993",        "-0",          "-0.0e0",       "00012",      "1,2",         "\v\f\r 7",
        "",         "   ",         "#1",          "1\0 2",        "0e",         "0e+1",        ".e1",
        "12345678", "123456789",   "-1234567.8e1", "00000000000000000001",     "99999999999999999999",
        "1e22",     "1e23",        "9007199254740992e-22",      "9007199254740993e-22", "12345678.9.1",
        "1234567890123456789e-330", "0.000000000000000000000000001e330", "12345678x",  "0x12345678",
    };
    for (const char* text : cases)
        expect_same_as_oracle(text);
}

TEST(NumberScanner, AgreesWithTheCLibraryOnRandomTokens)
{
    std::mt19937_64 rng(20261206);
    long count = sweep_size();
    for (long i = 0; i < count; ++i) {
        expect_same_as_oracle(random_token(rng));
        if (HasFatalFailure())
            return;
    }
}

// checkline finds the token ends without converting; it must count what
// the converting scan (scan_number, readline) reads, on any line.
TEST(NumberScanner, CountingAndStoringAgreeWithTheScannerOnRandomLines)
{
    std::mt19937_64 rng(99);
    long count = sweep_size() / 10;
    for (long i = 0; i < count; ++i) {
        std::string line;
        for (std::size_t tokens = rng() % 6; tokens > 0; --tokens)
            line += random_token(rng) + (rng() % 3 ? " " : "");
        std::vector<double> expected;
        double value;
        for (std::string_view rest = line; std::size_t used = scan_number(rest, value); rest.remove_prefix(used))
            expected.push_back(value);
        std::vector<double> stored(expected.size() + 1, -1.0);
        int counted = checkline(line);
        ASSERT_EQ(counted, static_cast<int>(expected.size())) << "[" << line << "]";
        ASSERT_EQ(readline(line, stored.data(), counted, nullptr), counted) << "[" << line << "]";
        for (int k = 0; k < counted; ++k)
            ASSERT_EQ(bits(expected[k]), bits(stored[k])) << "[" << line << "] value " << k;
    }
}

TEST(NumberScanner, RoundTripsRandomDoubles)
{
    std::mt19937_64 rng(7);
    char text[64];
    for (int i = 0; i < 200'000; ++i) {
        std::uint64_t pattern = rng();
        double value;
        std::memcpy(&value, &pattern, sizeof value);
        std::snprintf(text, sizeof text, i % 2 ? "%.17g" : "%.7g", value);
        expect_same_as_oracle(text);
        if (HasFatalFailure())
            return;
    }
}

TEST(LineScan, CountsTheRunOfNumbersAtTheStart)
{
    EXPECT_EQ(checkline("1 2 3\n"), 3);
    EXPECT_EQ(checkline("  4.5e-1\t-2 +3\n"), 3);
    EXPECT_EQ(checkline("1,2,3\n"), 1);
    EXPECT_EQ(checkline("1 2 abc 3\n"), 2);
    EXPECT_EQ(checkline("1 2 3 # remark\n"), 3);
    EXPECT_EQ(checkline("3-4\n"), 2);
    EXPECT_EQ(checkline("1e+-5\n"), 2);
    EXPECT_EQ(checkline(""), 0);
    EXPECT_EQ(checkline("  \n"), 0);
    EXPECT_EQ(checkline("1 2\r\n"), 2);
    EXPECT_EQ(checkline(std::string_view("1 2\0 3\n", 7)), 2);
    std::string twenty;
    for (int i = 1; i <= 20; ++i)
        twenty += std::to_string(i) + " ";
    EXPECT_EQ(checkline(twenty), 20);
}

TEST(LineScan, StoresWithinCapacityAndAppliesTheSelection)
{
    double row[5] = {-1, -1, -1, -1, -1};
    EXPECT_EQ(readline("1 2 3 4 5\n", row, 3, nullptr), 5);
    EXPECT_EQ(row[2], 3);
    EXPECT_EQ(row[3], -1);

    const int flags[3] = {1, 0, 1};
    double selected[3] = {-1, -1, -1};
    EXPECT_EQ(readline("7 -8 9\n", selected, 3, flags), 3);
    EXPECT_BITS_EQ(7.0, selected[0]);
    EXPECT_BITS_EQ(+0.0, selected[1]);
    EXPECT_BITS_EQ(9.0, selected[2]);

    double short_row[3] = {-1, -1, -1};
    EXPECT_EQ(readline("4\n", short_row, 3, flags), 1);
    EXPECT_EQ(short_row[1], -1) << "slots beyond the line are left alone";
}

namespace {

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

}  // namespace

TEST(LineReader, SkipsCommentLinesByTheirFirstByteOnly)
{
    std::string last;
    auto lines = lines_of(std::string("# a\n!b\n;c\n  # kept\n\n", 20) + std::string("\0x\n", 3) + "1 2", &last);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "  # kept\n");
    EXPECT_EQ(lines[1], "\n");
    EXPECT_EQ(lines[2], "1 2") << "a last line without newline is a line";
    EXPECT_EQ(last, "1 2");
}

TEST(LineReader, KeepsTheLastLineReadAtTheEnd)
{
    std::string last;
    EXPECT_TRUE(lines_of("# only\n# comments\n", &last).empty());
    EXPECT_EQ(last, "# comments\n");
    EXPECT_TRUE(lines_of("", &last).empty());
    EXPECT_EQ(last, "");
}

TEST(LineReader, ReadsLongLinesWhole)
{
    std::string numbers;
    for (int i = 0; i < 40'000; ++i)
        numbers += "1.25 ";
    auto lines = lines_of("#" + numbers + "\n" + numbers + "\n" + std::string(16383, ' ') + "\n");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(checkline(lines[0]), 40'000);
    EXPECT_EQ(lines[1].size(), 16384u);
}
