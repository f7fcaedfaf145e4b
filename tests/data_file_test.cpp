// Reading data files: what makes a row and what a row holds (rows streamed
// across blocks are run end to end in cli_test.cpp); output names.
#include "read/data_file.h"
#include "support.h"
#include "write/output_writer.h"

namespace {

// Every block's rows of `text` read, converted and taken as the program
// does, in order.
std::vector<double> read_cells(const std::string& text, int columns, std::optional<std::vector<int>> flags)
{
    ScratchDir dir;
    dir.write("a.dat", text);
    DataReader reader = DataReader::open(dir.file("a.dat").c_str(), {columns, flags ? flags->data() : nullptr});
    std::vector<double> cells;
    LineBlock block;
    const int rows = static_cast<int>(block_rows(columns));
    RowMatrix data{rows, columns, std::vector<double>(static_cast<std::size_t>(rows) * columns)};
    while (reader.read_lines(block, rows)) {
        convert_lines(reader.settings(), block, data);
        EXPECT_FALSE(reader.take_block(block));
        cells.insert(cells.end(), data.row(0), data.row(0) + block.rows() * columns);
    }
    return cells;
}

}  // namespace

TEST(DataFile, EveryNonCommentLineIsARowZeroFilled)
{
    const std::tuple<std::string, int, std::optional<std::vector<int>>, std::vector<double>> cases[] = {
        {"1 2 3\n\n   \nname size weight\n# comment\n1 2 word 3\n4",
         3,
         {},
         {1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 0, 4, 0, 0}},
        {"", 2, {}, {}},
        {"# a\n; b\n", 2, {}, {}},
        {"7 8 9\n1 2 3\n", 3, std::vector<int>{1, 0, 1}, {7, 0, 9, 1, 0, 3}},
        // Lines longer than the first megabyte read are read whole.
        {"#" + std::string(3 << 20, '7') + "\n" + std::string(2 << 20, ' ') + "5 6\n1\n", 2, {}, {5, 6, 1, 0}},
    };
    for (const auto& [text, columns, flags, expected] : cases)
        EXPECT_EQ(read_cells(text, columns, flags), expected) << "[" << text.substr(0, 40) << "]";
}

// A block lets go of the lines it skipped, before its first row and after
// one (blocks of exact row counts, as scorix-fit reads), and still tells each
// row's line.
TEST(DataFile, SkippedLinesAreNotKept)
{
    ScratchDir dir;
    const std::string comments = repeat("# comment\n", 1 << 19);
    dir.write("a.dat", "1 2\n" + comments + "3 4\n" + comments + "5 6\n");
    DataReader reader = DataReader::open(dir.file("a.dat").c_str(), {});
    LineBlock block;
    ASSERT_TRUE(reader.read_lines(block, 1, true));
    ASSERT_TRUE(reader.read_lines(block, 2, true));
    ASSERT_EQ(block.rows(), 2);
    EXPECT_EQ(line_number(block, 0), (1 << 19) + 2);
    EXPECT_EQ(line_number(block, 1), (2 << 19) + 3);
    EXPECT_LE(block.capacity, std::size_t{2} << 20);
}

TEST(OutputName, ReplacesTheExtensionOfTheLastComponentOnly)
{
    const std::string long_path(300, 'a');
    const std::pair<std::string, std::string> names[] = {{"data.dat", "data.sco"},
                                                         {"data", "data.sco"},
                                                         {"a.b.c", "a.b.sco"},
                                                         {"run.old/data", "run.old/data.sco"},
                                                         {"./data", "./data.sco"},
                                                         {"../x", "../x.sco"},
                                                         {".hidden", ".hidden.sco"},
                                                         {"dir/.hidden", "dir/.hidden.sco"},
                                                         {"x.", "x.sco"},
                                                         {long_path + ".dat", long_path + ".sco"}};
    for (const auto& [input, output] : names)
        EXPECT_EQ(output_name(input, ".sco"), output) << input;
}
