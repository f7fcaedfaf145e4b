// Loading the coefficient file: sections in any order, comments anywhere,
// and every size check with its exact text.
#include "coefficient_file.h"
#include "support.h"

namespace {


RunState load(const std::string& text, bool global = false)
{
    ScratchDir dir;
    dir.write("c.fsc", text);
    RunState state;
    state.global = global;
    readfsc(state, dir.file("c.fsc").c_str());
    return state;
}

std::string load_error(const std::string& text)
{
    ScratchDir dir;
    dir.write("c.fsc", text);
    RunState state;
    return fatal_text([&] { readfsc(state, dir.file("c.fsc").c_str()); });
}

std::string mismatch(int site, const char* first, int a, const char* second, int b)
{
    return "Error src/scorix " + std::to_string(site) + ":\nnumber of " + first + " (" + std::to_string(a) +
           ") and\nnumber of " + second + " (" + std::to_string(b) + ") is missmatched\n";
}

}  // namespace

TEST(CoefficientFile, LoadsAllThreeSections)
{
    for (const char* tail : {"", "\n", "\n\n", "\n# end\n"}) {
        std::string text = "[STD]\n2 0.5 1.5\n[MEAN]\n1 2 3\n[FSC_SORTED]\n1 2 3\n4 5 6\n7 8 9";
        RunState state = load(text + tail);
        EXPECT_EQ(state.datacols, 3);
        ASSERT_TRUE(state.std && state.mean && state.fsc);
        EXPECT_EQ(*state.std, (std::vector<double>{2, 0.5, 1.5}));
        EXPECT_EQ(*state.mean, (std::vector<double>{1, 2, 3}));
        EXPECT_EQ(*state.fsc, (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9}));
    }
}

TEST(CoefficientFile, SkipsCommentsAndIgnoresOtherLines)
{
    RunState state = load(
        "title [other]\n# [STD]\n[std]\nsome [STD] words\n; c\n! c\n1 2\n[FSC_SORTED]\n# c\n1 0\n;\n0 1\n[MEAN]\n5 6,7\n");
    EXPECT_EQ(*state.std, (std::vector<double>{1, 2}));
    EXPECT_EQ(*state.fsc, (std::vector<double>{1, 0, 0, 1}));
    EXPECT_EQ(*state.mean, (std::vector<double>{5, 6})) << "a marker right after the matrix is seen";
}

TEST(CoefficientFile, GlobalTakesTheSmallestDeviation)
{
    EXPECT_EQ(*load("[STD]\n2.0 0.5 1.5\n", true).std, (std::vector<double>{0.5, 0.5, 0.5}));
    EXPECT_EQ(*load("[STD]\n2.0 0.5 1.5\n", false).std, (std::vector<double>{2.0, 0.5, 1.5}));
}

TEST(CoefficientFile, LaterSectionsReplaceEarlierOnes)
{
    RunState state = load("[STD]\n1 2 3\n[STD]\n1 2 3 4\n");
    EXPECT_EQ(state.datacols, 4);
    EXPECT_EQ(state.std->size(), 4u);
}

TEST(CoefficientFile, MarkerAtTheEndScansTheLastLineReadAsTheVector)
{
    EXPECT_EQ(*load("x\n7 8 [STD]").std, (std::vector<double>{7, 8}));
    EXPECT_TRUE(load("x\n7 8 [STD]\n# 1 2 3\n").std->empty()) << "the skipped comment is the last line read";
}

TEST(CoefficientFile, EmptyEndings)
{
    RunState empty_std = load("[STD]\n");
    EXPECT_EQ(empty_std.datacols, 0);
    EXPECT_TRUE(empty_std.std->empty());
    RunState empty_fsc = load("[FSC_SORTED]\n# nothing\n");
    EXPECT_EQ(empty_fsc.datacols, 0);
    EXPECT_TRUE(empty_fsc.fsc->empty());
    RunState none = load("no markers\n");
    EXPECT_FALSE(none.std || none.mean || none.fsc);
}

TEST(CoefficientFile, ReportsEverySizeMismatch)
{
    const std::string matrix3 = "[FSC_SORTED]\n1 0 0\n0 1 0\n0 0 1\n";
    EXPECT_EQ(load_error(matrix3 + "[STD]\n1 2 3 4\n"), mismatch(487, "fsc", 3, "std", 4));
    EXPECT_EQ(load_error(matrix3 + "[MEAN]\n1 2\n"), mismatch(524, "fsc", 3, "mean", 2));
    EXPECT_EQ(load_error("[STD]\n1 2 3\n[FSC_SORTED]\n1 0 0 0\n"), mismatch(554, "std", 3, "fsc", 4));
    EXPECT_EQ(load_error("[FSC_SORTED]\n1 0 0\n0 1\n0 0 1\n"), mismatch(562, "read", 2, "expected", 3));
    EXPECT_EQ(load_error("[FSC_SORTED]\n1 0 0\n\n0 0 1\n"), mismatch(562, "read", 0, "expected", 3));
    EXPECT_EQ(load_error("[FSC_SORTED]\n1 0 0\n0 1#0\n0 0 1\n"), mismatch(562, "read", 2, "expected", 3))
        << "a comment character cuts the row";
    EXPECT_EQ(load_error("[FSC_SORTED]\n1 0 0\n0 1 0\n"), mismatch(567, "columns", 3, "rows", 2));
}

TEST(CoefficientFile, ReportsFilesThatCannotBeOpenedOrRead)
{
    RunState state;
    EXPECT_EQ(fatal_text([&] { readfsc(state, "/nonexistent/c.fsc"); }), "Error: opening /nonexistent/c.fsc\n");
    ScratchDir dir;
    std::string path = dir.path().string();
    EXPECT_EQ(fatal_text([&] { readfsc(state, path.c_str()); }), "Error: reading " + path + "\n");
}

TEST(CoefficientFile, LoadsLongMatrixRows)
{
    const int n = 1600;
    std::string text = "[FSC_SORTED]\n";
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c)
            text += (r == c) ? "1 " : "0 ";
        text += '\n';
    }
    RunState state = load(text);
    EXPECT_EQ(state.datacols, n);
    EXPECT_EQ((*state.fsc)[static_cast<std::size_t>(n) * n - 1], 1.0);
}
