// Reading data files: what makes a row, what a row holds, and the failures
// with their console lines.
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "data_file.h"
#include "output_writer.h"
#include "support.h"

namespace {

struct Read {
    RunState state;
    std::string console;
    int rows = 0;
    std::vector<double> cells;  // every block's rows, in order
};

Read read_text(const std::string& text, int columns, std::optional<std::vector<int>> flags = {}, bool quiet = false)
{
    ScratchDir dir;
    dir.write("a.dat", text);
    Read out;
    out.state.datacols = columns;
    out.state.readflag = flags;
    out.state.quiet = quiet;
    testing::internal::CaptureStdout();
    DataReader reader = readfile(out.state, dir.file("a.dat").c_str());
    out.console = testing::internal::GetCapturedStdout();
    while (readblock(out.state, reader)) {
        out.rows += out.state.datarows;
        const double* block = out.state.data.row(0);
        out.cells.insert(out.cells.end(), block, block + out.state.datarows * columns);
    }
    return out;
}

std::vector<double> cells(const Read& read)
{
    return read.cells;
}

}  // namespace

TEST(DataFile, EveryNonCommentLineIsARowZeroFilled)
{
    Read read = read_text("1 2 3\n\n   \nname size weight\n# comment\n1 2 word 3\n4", 3);
    EXPECT_EQ(read.rows, 6);
    EXPECT_EQ(cells(read), (std::vector<double>{1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 4, 0, 0}));
    EXPECT_EQ(read.state.result.cols, 3);
}

TEST(DataFile, ConsoleLinesInNormalAndQuietMode)
{
    Read normal = read_text("1\n2\n", 1);
    EXPECT_NE(normal.console.find("Rows:      2\n"), std::string::npos);
    EXPECT_EQ(normal.console.rfind("File:      ", 0), 0u);
    Read quiet = read_text("1\n2\n", 1, {}, true);
    EXPECT_EQ(quiet.console.rfind("rows:2 file:", 0), 0u);
    EXPECT_EQ(quiet.console.back(), 't') << "no line end after the path";
}

TEST(DataFile, EmptyAndCommentOnlyFilesHaveNoRows)
{
    EXPECT_EQ(read_text("", 2).rows, 0);
    EXPECT_EQ(read_text("# a\n; b\n", 2).rows, 0);
}

TEST(DataFile, UnselectedColumnsReadAsZero)
{
    Read read = read_text("7 8 9\n1 2 3\n", 3, std::vector<int>{1, 0, 1});
    EXPECT_EQ(cells(read), (std::vector<double>{7, 0, 9, 1, 0, 3}));
}

TEST(DataFile, LongLinesAreOneRow)
{
    std::string line(20000, ' ');
    line += "5 6\n";
    Read read = read_text(line + "1\n", 2);
    EXPECT_EQ(read.rows, 2);
    EXPECT_EQ(cells(read), (std::vector<double>{5, 6, 1, 0}));
}

TEST(DataFile, FailuresNameTheirSiteAndFile)
{
    ScratchDir dir;
    dir.write("wide.dat", "1 2\n1 2 3\n");
    RunState state;
    state.datacols = 2;
    std::string wide = dir.file("wide.dat");
    testing::internal::CaptureStdout();
    EXPECT_EQ(fatal_text([&] { readfile(state, wide.c_str()); }),
              "Error src/scorix 655:\nnumber of variables in std (2)\nand in " + wide + " (3) mismatch.\n");
    EXPECT_EQ(fatal_text([&] { readfile(state, "/nonexistent/x"); }), "Error src/scorix 646:opening /nonexistent/x\n");
    std::string directory = dir.path().string();
    EXPECT_EQ(fatal_text([&] { readfile(state, directory.c_str()); }),
              "Error src/scorix 647:reading " + directory + "\n");
    std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console.find("Rows:"), std::string::npos) << "errors come before the row count";
    EXPECT_NE(console.find("File:      /nonexistent/x\n"), std::string::npos);
}

TEST(DataFile, AnErrorInTheReadPassLeavesNoOutput)
{
    ScratchDir dir;
    dir.write("g.dat", "1 2\n3 4\n");
    RunState state;
    state.datacols = 2;
    state.quiet = 1;
    std::string path = dir.file("g.dat");
    testing::internal::CaptureStdout();
    DataReader reader = readfile(state, path.c_str());
    dir.write("g.dat", "1 2\n3 4 5\n");  // changed between the two passes
    OutputFile output = writefile(state, path.c_str());
    EXPECT_EQ(fatal_text([&] {
                  while (readblock(state, reader))
                      output.write(state);
              }),
              "Error src/scorix 691:\nnumber of variables in std (2)\nand in " + path + " (3) mismatch.\n");
    testing::internal::GetCapturedStdout();
    EXPECT_FALSE(dir.exists("g.sco"));
}

TEST(OutputName, ReplacesTheExtensionOfTheLastComponentOnly)
{
    const std::pair<const char*, const char*> names[] = {
        {"data.dat", "data.sco"}, {"data", "data.sco"},       {"a.b.c", "a.b.sco"},
        {"run.old/data", "run.old/data.sco"}, {"./data", "./data.sco"}, {"../x", "../x.sco"},
        {".hidden", ".hidden.sco"}, {"dir/.hidden", "dir/.hidden.sco"}, {"x.", "x.sco"},
    };
    for (auto [input, output] : names)
        EXPECT_EQ(output_name(input, ".sco"), output) << input;
    std::string long_path(300, 'a');
    EXPECT_EQ(output_name(long_path + ".dat", ".tad"), long_path + ".tad");
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
