// Reading data files: what makes a row, what a row holds, block by block, and
// the failures the end-to-end tests do not reach; output names and the value
// printer of the writer.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "data_file.h"
#include "output_writer.h"
#include "support.h"

namespace {

// Every block's rows of `text` read through readfile/readblock, in order.
std::vector<double> read_cells(const std::string& text, int columns, std::optional<std::vector<int>> flags = {},
                               std::vector<int>* block_rows = nullptr)
{
    ScratchDir dir;
    dir.write("a.dat", text);
    RunState state;
    state.datacols = columns;
    state.readflag = flags;
    state.quiet = 1;
    testing::internal::CaptureStdout();
    DataReader reader = readfile(state, dir.file("a.dat").c_str());
    testing::internal::GetCapturedStdout();
    std::vector<double> cells;
    while (readblock(state, reader)) {
        const double* block = state.data.row(0);
        cells.insert(cells.end(), block, block + state.datarows * columns);
        if (block_rows)
            block_rows->push_back(state.datarows);
    }
    return cells;
}

}  // namespace

TEST(DataFile, EveryNonCommentLineIsARowZeroFilled)
{
    const std::tuple<std::string, int, std::optional<std::vector<int>>, std::vector<double>> cases[] = {
        {"1 2 3\n\n   \nname size weight\n# comment\n1 2 word 3\n4", 3, {},
         {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 4, 0, 0}},
        {"", 2, {}, {}},
        {"# a\n; b\n", 2, {}, {}},
        {"7 8 9\n1 2 3\n", 3, std::vector<int>{1, 0, 1}, {7, 0, 9, 1, 0, 3}},
        {std::string(20000, ' ') + "5 6\n1\n", 2, {}, {5, 6, 1, 0}},
    };
    for (const auto& [text, columns, flags, expected] : cases)
        EXPECT_EQ(read_cells(text, columns, flags), expected) << "[" << text.substr(0, 40) << "]";
}

// Wide rows make blocks of a few rows; a short row in a later block must not
// show what an earlier block left in its slot.
TEST(DataFile, StreamsRowsAcrossBlocksInOrder)
{
    const int columns = 50'000;
    std::string text;
    auto is_short = [](int r) { return r / 2 % 2 == 1; };  // rows 2, 3 and 6, in slots a long row used
    for (int r = 0; r < 7; ++r)
        text += std::to_string(r) + (is_short(r) ? "\n" : " 1 2\n");
    std::vector<int> block_rows;
    std::vector<double> cells = read_cells(text, columns, {}, &block_rows);
    EXPECT_EQ(block_rows, (std::vector<int>{2, 2, 2, 1}));
    ASSERT_EQ(cells.size(), 7u * columns);
    for (int r = 0; r < 7; ++r) {
        EXPECT_EQ(cells[r * columns], r);
        EXPECT_EQ(cells[r * columns + 1], is_short(r) ? 0 : 1) << "row " << r;
    }
}

// A file that changes between the count and the read pass (the other read
// errors are run end to end in cli_test.cpp).
TEST(DataFile, ALineThatGrewBetweenThePassesStopsTheRun)
{
    ScratchDir dir;
    dir.write("g.dat", "1 2\n3 4\n");
    RunState state;
    state.datacols = 2;
    state.quiet = 1;
    std::string path = dir.file("g.dat");
    testing::internal::CaptureStdout();
    DataReader reader = readfile(state, path.c_str());
    dir.write("g.dat", "1 2\n3 4 5\n");
    OutputFile output = writefile(state, path.c_str());
    EXPECT_EQ(fatal_text([&] {
                  while (readblock(state, reader)) {
                  }
              }),
              "Error src/scorix 691:\nnumber of variables in std (2)\nand in " + path + " (3) mismatch.\n");
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(dir.exists("g.sco")) << "no output is left behind";
}

TEST(OutputName, ReplacesTheExtensionOfTheLastComponentOnly)
{
    const std::string long_path(300, 'a');
    const std::pair<std::string, std::string> names[] = {
        {"data.dat", "data.sco"}, {"data", "data.sco"}, {"a.b.c", "a.b.sco"}, {"run.old/data", "run.old/data.sco"},
        {"./data", "./data.sco"}, {"../x", "../x.sco"}, {".hidden", ".hidden.sco"}, {"dir/.hidden", "dir/.hidden.sco"},
        {"x.", "x.sco"}, {long_path + ".dat", long_path + ".sco"}};
    for (const auto& [input, output] : names)
        EXPECT_EQ(output_name(input, ".sco"), output) << input;
}

namespace {

void expect_printed_as_printf(double value)
{
    char expected[64];
    char actual[kValueChars];
    int length = std::snprintf(expected, sizeof expected, "%-.7g", value);
    std::string got(actual, format_value(actual, value));
    ASSERT_EQ(got, std::string(expected, length)) << describe(value);
}

}  // namespace

TEST(ValuePrinter, PrintsAsPrintfDoes)
{
    const double edges[] = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0 / 3, 100, 1e7, 9999999, 9999999.5, 9999998.5,
                            99999995, 0.0001, 0.00009999995, 1e-5, 123456.75, 1e-21, 1e-22, 1e22, 1e300,
                            5e-324, 2.2250738585072014e-308, 2.2250738585072009e-308, 1.7976931348623157e308,
                            HUGE_VAL, -HUGE_VAL, std::nan(""), -std::nan(""), 0.1, 1.0 / 3e-10};
    for (double value : edges)
        expect_printed_as_printf(value);
    // Random bit patterns reach every exponent, mostly beyond the exact
    // integer path; the scaled mantissas and the ties (n + 0.5) x 10^j and
    // x 2^j stay on it.
    std::mt19937_64 rng(314);
    long count = std::getenv("SCORIX_LONG_SWEEP") ? 10'000'000 : 200'000;
    for (long i = 0; i < count && !HasFatalFailure(); ++i) {
        expect_printed_as_printf(std::bit_cast<double>(rng()));
        expect_printed_as_printf(std::ldexp(static_cast<double>(rng() >> 11), static_cast<int>(rng() % 130) - 130));
        double tie = static_cast<double>(1000000 + rng() % 9000000) + 0.5;
        expect_printed_as_printf(tie * std::pow(10.0, static_cast<int>(rng() % 9)));
        expect_printed_as_printf(-std::ldexp(tie, static_cast<int>(rng() % 40) - 30));
    }
}
