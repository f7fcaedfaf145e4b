// Reading data files: what makes a row and what a row holds (rows streamed
// across blocks are run end to end in driver_test.cpp); output names.
#include "read/data_file.h"
#include "support.h"
#include "write/output_writer.h"

namespace {

struct Read {
    std::vector<double> cells;
    ReadFailure failure;
};

// Every block's rows of `text` read, converted and taken as the programs do,
// in order, up to the first failure: blocks of `rows` rows (0: as scorix
// sizes them), of exactly that many when `exact` (as scorix-fit reads).
Read read_blocks(const std::string& text, const ReadSettings& settings, int rows = 0, bool exact = false)
{
    ScratchDir dir;
    dir.write("a.dat", text);
    DataReader reader = DataReader::open(dir.file("a.dat").c_str(), settings);
    Read read;
    LineBlock block;
    rows = rows ? rows : static_cast<int>(block_rows(settings.cols));
    RowMatrix data{rows, settings.cols, std::vector<double>(static_cast<std::size_t>(rows) * settings.cols)};
    while (!read.failure && reader.read_lines(block, rows, exact)) {
        convert_lines(reader.settings(), block, data);
        if (!(read.failure = reader.take_block(block)))
            read.cells.insert(read.cells.end(), data.row(0), data.row(0) + block.rows() * settings.cols);
    }
    return read;
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
    // Blocks of any size: what one block carries to the next is the same.
    for (const auto& [text, columns, flags, expected] : cases)
        for (const auto& [rows, exact] : {std::pair(0, false), std::pair(1, true), std::pair(2, false)})
            EXPECT_EQ(read_blocks(text, {columns, flags ? flags->data() : nullptr}, rows, exact).cells, expected)
                << "[" << text.substr(0, 40) << "] " << rows;
}

// A failure in a late block names its own line, however the blocks before
// it were cut: rows of two lines (a quoted line break), comment and blank
// lines before it.
TEST(DataFile, AFailureNamesItsLineInAnyBlock)
{
    using Kind = ReadFailure::Kind;
    TableFormat csv;
    csv.table = true;
    csv.delimiter = ',';
    const std::string rows = repeat("# c\n1,2\n\n\"3\n\",4\n", 4);
    const std::tuple<std::string, const TableFormat*, Kind, long long, int> cases[] = {
        {rows + "1 2 3\n", nullptr, Kind::too_many, 21, 0},
        {rows + "1,2,3\n", &csv, Kind::too_many, 21, 0},
        {rows + "\"1\n\",x\n", &csv, Kind::not_a_number, 21, 2},
        {rows + "1,\"x\n\n", &csv, Kind::open_quote, 21, 0},
    };
    for (const auto& [text, format, kind, line, field] : cases)
        for (const auto& [rows, exact] : {std::pair(0, false), std::pair(1, true), std::pair(3, false)}) {
            const ReadFailure failure = read_blocks(text, {2, nullptr, format}, rows, exact).failure;
            EXPECT_EQ(std::tuple(failure.kind, failure.line, failure.field), std::tuple(kind, line, field))
                << text << rows;
        }
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
