// Loading the coefficient file: sections in any order, comments anywhere,
// and every size check with its exact text.
#include "read/table_format.h"
#include "score/coefficient_file.h"
#include "support.h"

namespace {

RunState load(const std::string& text, int global = 0)
{
    ScratchDir dir;
    dir.write("c.fsc", text);
    RunState state;
    state.options.global = global;
    readfsc(state, dir.file("c.fsc").c_str());
    return state;
}

}  // namespace

TEST(CoefficientFile, LoadsTheSectionsItFinds)
{
    using V = std::vector<double>;
    const std::string full = "[STD]\n2 0.5 1.5\n[MEAN]\n1 2 3\n[FSC_SORTED]\n1 2 3\n4 5 6\n7 8 9";
    const V std3{2, 0.5, 1.5}, mean3{1, 2, 3}, fsc3{1, 2, 3, 4, 5, 6, 7, 8, 9};
    const struct {
        std::string text;
        int global, datacols;
        std::optional<V> std, mean, fsc;
    } cases[] = {
        {full, 0, 3, std3, mean3, fsc3},
        {full + "\n\n# end\n", 0, 3, std3, mean3, fsc3},
        {full, 1, 3, V{0.5, 0.5, 0.5}, mean3, fsc3},  // -g: the smallest deviation for all
        // Markers count alone on a line and in capitals; one right after the
        // matrix is seen.
        {"title [other]\n# [STD]\n[std]\nsome [STD] words\n; c\n! c\n1 2\n[FSC_SORTED]\n# c\n1 0\n;\n0 1\n"
         "[MEAN]\n5 6,7\n",
         0, 2, V{1, 2}, V{5, 6}, V{1, 0, 0, 1}},
        {"[STD]\n1 2 3\n[STD]\n1 2 3 4\n", 0, 4, V{1, 2, 3, 4}, {}, {}},
        // A marker at the end of the file scans the last line read.
        {"x\n7 8 [STD]", 0, 2, V{7, 8}, {}, {}},
        {"x\n7 8 [STD]\n# 1 2 3\n", 0, 0, V{}, {}, {}},
        {"[STD]\n", 0, 0, V{}, {}, {}},
        {"[FSC_SORTED]\n# nothing\n", 0, 0, {}, {}, V{}},
        {"no markers\n", 0, 0, {}, {}, {}},
        {std::string("a\0[STD]\n1 2\n", 12), 0, 0, {}, {}, {}},  // a line ends as text at a NUL
    };
    for (const auto& c : cases) {
        RunState state = load(c.text, c.global);
        EXPECT_EQ(state.coefficients.datacols, c.datacols) << c.text;
        EXPECT_EQ(state.coefficients.std, c.std) << c.text;
        EXPECT_EQ(state.coefficients.mean, c.mean) << c.text;
        EXPECT_EQ(state.coefficients.fsc, c.fsc) << c.text;
    }
}

TEST(CoefficientFile, ReportsEverySizeMismatch)
{
    const std::string matrix3 = "[FSC_SORTED]\n1 0 0\n0 1 0\n0 0 1\n";
    const std::tuple<std::string, int, const char*, int, const char*, int> cases[] = {
        {matrix3 + "[STD]\n1 2 3 4\n", 487, "fsc", 3, "std", 4},
        {matrix3 + "[MEAN]\n1 2\n", 524, "fsc", 3, "mean", 2},
        {"[STD]\n1 2 3\n[FSC_SORTED]\n1 0 0 0\n", 554, "std", 3, "fsc", 4},
        {"[FSC_SORTED]\n1 0 0\n0 1\n0 0 1\n", 562, "read", 2, "expected", 3},
        {"[FSC_SORTED]\n1 0 0\n\n0 0 1\n", 562, "read", 0, "expected", 3},
        {"[FSC_SORTED]\n1 0 0\n0 1#0\n0 0 1\n", 562, "read", 2, "expected", 3},  // '#' cuts the row
        {"[FSC_SORTED]\n1 0 0\n0 1 0\n", 567, "columns", 3, "rows", 2},
    };
    for (const auto& [text, site, first, a, second, b] : cases) {
        const std::string expected = "Error src/scorix " + std::to_string(site) + ":\nnumber of " + first + " (" +
                                     std::to_string(a) + ") and\nnumber of " + second + " (" + std::to_string(b) +
                                     ") is missmatched\n";
        EXPECT_EQ(fatal_text([&] { load(text); }), expected);
    }
}

// The names line is read whole however long (4,000 names), quoted names too.
TEST(CoefficientFile, ReadsANamesLineOfAnyLength)
{
    ScratchDir dir;
    std::vector<std::string> names(4000, "variable_with_a_long_name");
    names.back() = "a \"b\", c";
    std::string line = "# names:";
    for (const std::string& name : names)
        line.append(" ").append(quoted_name(name));
    dir.write("c.fsc", "[STD]\n1\n" + line + "\n");
    EXPECT_EQ(read_names(dir.file("c.fsc").c_str()), names);
}
