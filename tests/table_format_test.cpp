// Tables as people keep them: the reading of a row (quotes, empty fields,
// missing values, labels, decimal commas) and both programs end to end,
// down to R's write.csv output read as it is.
#include <algorithm>
#include <cmath>
#include <sstream>
#include <tuple>

#include "read/table_format.h"
#include "support.h"

namespace {

// "csv labels=1,3 na=-9" as the options would set it.
TableFormat format_of(const std::string& options)
{
    TableFormat format;
    std::istringstream words(options);
    for (std::string word; words >> word;) {
        const std::size_t eq = word.find('=');
        for (const option& table : kTableOptions) {
            if (word.substr(0, eq) == table.name) {
                EXPECT_EQ(apply_table_option(format, table.val, eq == std::string::npos ? nullptr : &word[eq + 1]), "");
            }
        }
    }
    format.table = true;
    return format;
}

struct RowCase {
    const char* options;
    const char* line;
    const char* values;  // "%g" each, NA for a missing value
    const char* labels;
    int bad_field = -1;
    bool glued = false;
};

TEST(TableFormat, ReadsTheFieldsOfARow)
{
    const RowCase cases[] = {
        {"csv labels=1", "\"a \"\"b\"\", c\",1.5, 2 ,\"3\"\n", "1.5 2 3", "\"a \"\"b\"\", c\","},
        {"csv", "1,,3,\r\n", "1 NA 3 NA", ""},
        {"csv na=-9,.", "-9,.,4,NA", "NA NA 4", "", 4},
        {"csv labels=2,4", "1,x,2,\"y\"", "1 2", "x,\"y\","},
        {"csv labels=2,4", "1,x", "1", "x,,"},
        {"csv", "1,2x,3", "1", "", 2, true},
        {"csv", "1,abc,3", "1", "", 2},
        {"delimiter=; decimal=,", "1,5; -2,25e1 ;3", "1.5 -22.5 3", ""},
        {"delimiter=; decimal=,", "1.5;2", "", "", 1, true},
        {"delimiter=tab", "1\t\"2\"\t 3 \n", "1 2 3", ""},
        {"na=NA", "1 NA 3 setosa\n", "1 NA 3", "", 4},
        {"labels=4", "1 2 3 setosa extra\n", "1 2 3", "setosa ", 5},
        {"labels=1", "\"two words\" 5", "5", "\"two words\" "},
        // Labels given out of order, tokens and "" trimmed, text after a
        // closing quote kept, a quoted line break.
        {"csv labels=3,1,6 na=-9", "x, -9 ,y,\"\", \"1\"2 ,\"a\nb\"", "NA NA 12", "x,y,\"a\nb\","},
        {"labels=1", "\"a b\"c \"1\"2", "12", "\"a b\"c "},
    };
    for (const RowCase& c : cases) {
        const TableFormat format = format_of(c.options);
        RowReader reader(format);
        double row[8];
        std::string labels;
        const RowFields found = reader.read(c.line, row, 8, nullptr, &labels);
        std::ostringstream values;
        for (int i = 0; i < found.count; ++i)
            values << (i ? " " : "") << (std::isnan(row[i]) ? "NA" : (std::ostringstream() << row[i]).str());
        SCOPED_TRACE(std::string(c.options) + " | " + c.line);
        EXPECT_EQ(values.str(), c.values);
        EXPECT_EQ(labels, c.labels);
        EXPECT_EQ(found.bad_field, c.bad_field);
        EXPECT_EQ(found.glued, c.glued);
    }
    // A header's names lose their quotes; a label's stays as it stands.
    const TableFormat csv = format_of("csv labels=1");
    RowReader reader(csv);
    EXPECT_EQ(reader.names("\"\",\"Murder\", Rape ,\"a \"\"b\"\"\"\n"),
              (std::vector<std::string>{"", "Murder", "Rape", "a \"b\""}));
    EXPECT_EQ(reader.label_names("\"\",\"Murder\"\n"), std::vector<std::string>{"\"\""});
    EXPECT_EQ(names_comment("# names: a \"b c\" \"\""), (std::vector<std::string>{"a", "b c", ""}));
    EXPECT_EQ(quoted_name("b \"c\""), "\"b \"\"c\"\"\"");
}

TEST(TableFormat, RejectsBadArguments)
{
    TableFormat format;
    EXPECT_EQ(apply_table_option(format, kTableOptionCodes, "x"), "invalid delimiter 'x' (one of , ; | or tab)");
    EXPECT_NE(apply_table_option(format, kTableOptionCodes + 3, "0"), "");
    EXPECT_NE(apply_table_option(format, kTableOptionCodes + 3, "2-1"), "");
    EXPECT_EQ(apply_table_option(format, kTableOptionCodes + 1, nullptr), "");
    EXPECT_EQ(apply_table_option(format, kTableOptionCodes + 5, ","),
              "a decimal comma needs another delimiter (--delimiter=';', say)");
}

// --columns: a name first (even one with a '-' or of digits), then a
// position, ranges of either in file order; a bad list's fault named.
TEST(TableFormat, ChoosesColumnsByNamePositionAndRange)
{
    const std::vector<std::string> names = {"id", "A1", "A-2", "A3", "7", "x", "x"};
    const std::pair<const char*, const char*> cases[] = {
        {"A1-A3", "1 2 3"},
        {"A3,A-2,7", "2 3 4"},
        {"1-2", "0 1"},
        {"A3-A1", "the range A3-A1 runs backwards"},
        {"A1-B", "no field is named \"B\""},
        {"8", "position 8 is not among the 7 fields of the rows"},
        {"x", "\"x\" names more than one field"},
        {"A1,2", "field 2 (\"A1\") is chosen twice"},
    };
    for (const auto& [list, expected] : cases) {
        TableFormat format;
        std::string chosen = choose_columns(format, list, &names, 7);
        for (const int field : format.columns)
            chosen.append(chosen.empty() ? "" : " ").append(std::to_string(field));
        EXPECT_EQ(chosen, expected) << list;
    }
    TableFormat format = format_of("labels=1");
    EXPECT_EQ(choose_columns(format, "A1", nullptr, 3),
              "\"A1\" is no position (from 1), and the rows have no header to name fields");
    ASSERT_EQ(choose_columns(format, "2,4", nullptr, 4), "");
    // The other fields are labels, words or not, and a short row misses the next column.
    double row[2];
    const RowFields found = RowReader(format).read("a 1 b", row, 2, nullptr, nullptr);
    EXPECT_EQ(std::tuple(found.count, found.bad_field, found.first_missing, row[0]), std::tuple(1, -1, 4, 1.0));
}

// Two variables named a and b, scored as they are.
constexpr const char* kNamedFsc = "# names: a b\n[STD]\n1 1\n[MEAN]\n0 0\n[FSC_SORTED]\n1 0\n0 1\n";

struct RunCase {
    const char* name;
    std::string program;
    std::vector<std::string> args;
    std::string data;  // t.csv
    int status;
    std::string err;
    const char* output;   // its name
    std::string written;  // its bytes, or absent when empty
};

TEST(TableFormat, RunsBothPrograms)
{
    const std::string fit = SCORIX_FIT_BINARY;
    const std::string header = "--header";
    const RunCase cases[] = {
        {"missing_and_labels",
         SCORIX_BINARY,
         {"--csv", header, "--labels=1"},
         "id,a,b\nr1,1,2\n\n\"r 2\",NA,4\n",
         0,
         "scorix: warning: t.csv: 1 row holds a missing value; its values are written as NA\n",
         "t.sco",
         "id,F1,F2\nr1,1,2\n\"r 2\",NA,NA\n"},
        // A quoted line break, a quote in a comment, short rows (no label
        // column, a row cut after a delimiter).
        {"quoted_line_break_short_rows",
         SCORIX_BINARY,
         {"--csv", "--labels=1"},
         "\"Ala\nbama\",1,\"1\"2\n# a,\"b\n3,5\nr4,6,\n",
         0,
         "scorix: warning: t.csv: 2 rows hold a missing value; their values are written as NA\n",
         "t.sco",
         "\"Ala\nbama\",1,12\n3,NA,NA\nr4,NA,NA\n"},
        {"open_quote",
         SCORIX_BINARY,
         {"--csv", header},
         "a,b\n\"1\n\",2\n\n\"3\n\",\"4\n",
         1,
         "Error src/scorix 663:t.csv:6: a quote that is not closed before the end of the file\n",
         "t.sco",
         ""},
        {"fit_short_row",
         fit,
         {"--csv", header},
         "a,b\n1,2\n3\n",
         1,
         "scorix-fit: t.csv:3:2: a missing value (--drop-incomplete leaves out the rows that have one)\n",
         "t.fsc",
         ""},
        {"inverse_names",
         SCORIX_BINARY,
         {"-i", "--csv", header, "--labels=1"},
         "id,F1,F2\nr1,1,2\nr2,,\n",
         0,
         "scorix: warning: t.csv: 1 row holds a missing value; its values are written as NA\n",
         "t.tad",
         "id,a,b\nr1,1,2\nr2,NA,NA\n"},
        {"header_mismatch",
         SCORIX_BINARY,
         {"--csv", header, "--labels=1"},
         "id,b,a\nr1,1,2\n",
         1,
         "Error src/scorix 662:t.csv:1:2: the data's name is \"b\", c.fsc has \"a\"\n",
         "t.sco",
         ""},
        {"header_short",
         SCORIX_BINARY,
         {"--delimiter=|", header},
         "a\n1\n",
         1,
         "Error src/scorix 662:t.csv:1:2: the data's name is missing, c.fsc has \"b\"\n",
         "t.sco",
         ""},
        {"not_a_number",
         SCORIX_BINARY,
         {"--csv"},
         "1,2\n3,4;5\n",
         1,
         "Error src/scorix 661:t.csv:2:2: a field that is not a number, in \"3,4;5\"\n",
         "t.sco",
         ""},
        // Failures in a late block (rows of two lines each) name their line.
        {"late_block_not_a_number",
         SCORIX_BINARY,
         {"--csv", header},
         "a,b\n" + repeat("\"1\n\",2\n", 70000) + "3,x\n",
         1,
         "Error src/scorix 661:t.csv:140002:2: a field that is not a number, in \"3,x\"\n",
         "t.sco",
         ""},
        {"fit_late_block_open_quote",
         fit,
         {"--csv", header},
         "a,b\n" + repeat("\"1\n\",2\n", 70000) + "\"3\n",
         1,
         "scorix-fit: t.csv:140002: a quote that is not closed before the end of the file\n",
         "t.fsc",
         ""},
        {"fit_glued",
         fit,
         {"--csv"},
         "1,2\n3,4 5\n",
         1,
         "scorix-fit: t.csv:2:2: \"4 5\" is not a number\n",
         "t.fsc",
         ""},
        // Lines skipped, a header one field short of the rows (the first
        // field a label) and columns chosen by name among text fields.
        {"fit_skip_row_names_columns",
         fit,
         {"--skip=2", header, "--columns=c,a"},
         "3 4\n# x\n\"a\" \"b\" \"c\"\n\"r1\" 1 x 2\n\"r2\" 3 y 5\n\"r3\" 4 z 1\n",
         0,
         "",
         "t.fsc",
         "# rows: 3\n# variables: 2\n# names: a c\n"},
        {"fit_matrix_row_names",
         fit,
         {header, "--input=correlation", "--rows=10"},
         "\"a\" \"b\"\n\"a\" 1 0.5\n\"b\" 0.5 1\n",
         0,
         "scorix-fit: warning: a correlation matrix has no means or standard deviations: the coefficient file has "
         "means 0 and standard deviations 1 (give them with --mean=FILE --std=FILE)\n",
         "t.fsc",
         "# rows: 10\n# variables: 2\n# input: correlation matrix\n# names: a b\n"},
        {"fit_drop",
         fit,
         {"--csv", "--drop-incomplete", header},
         "a,b\n1,2\nNA,3\n2,5\n4,4\n7,\n8\n",
         0,
         "",
         "t.fsc",
         "# rows: 3\n# variables: 2\n# rows left out for a missing value: 3\n# names: a b\n"},
    };
    for (const RunCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        dir.write("c.fsc", kNamedFsc);
        dir.write("t.csv", c.data);
        std::vector<std::string> args = c.args;
        if (c.program == SCORIX_BINARY)
            args.insert(args.begin(), {"-q", "-a", "-f", "c.fsc"});
        else
            args.insert(args.begin(), "-q");
        args.push_back("t.csv");
        const RunResult run = run_scorix(dir, args, {}, c.program);
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, c.err);
        if (c.written.empty())
            EXPECT_EQ(dir.exists(c.output), c.status == 0);
        else if (c.program == fit)  // the part of the coefficient file that tells of the rows
            EXPECT_NE(dir.read(c.output).find(c.written), std::string::npos) << dir.read(c.output);
        else
            EXPECT_EQ(dir.read(c.output), c.written);
    }
}

// A table's rows as the white-space path has them: the header and the first
// (label) field dropped, commas made blanks.
std::string numbers_only(const std::string& table)
{
    std::string plain;
    for (std::size_t line = table.find('\n') + 1; line < table.size(); line = table.find('\n', line) + 1) {
        std::string row = table.substr(line, table.find('\n', line) - line);
        row = row.substr(row.find("\",") + 2);
        std::replace(row.begin(), row.end(), ',', ' ');
        plain += row + "\n";
    }
    return plain;
}

// R's write.csv(USArrests) as it is: fitted, scored and mapped back with one
// command each, equal to the same data in white-space columns.
TEST(TableFormat, RoundTripsACsvFileAsTheWhiteSpacePathDoes)
{
    ScratchDir dir;
    const std::string csv = read_file(std::string(SCORIX_EXAMPLES) + "/usarrests.csv");
    dir.write("u.csv", csv);
    dir.write("u.dat", numbers_only(csv));
    auto run = [&](std::vector<std::string> args, const std::string& program = SCORIX_BINARY) {
        EXPECT_EQ(run_scorix(dir, args, {}, program).status, 0);
    };
    run({"-q", "--csv", "--header", "--labels=1", "u.csv"}, SCORIX_FIT_BINARY);
    run({"-q", "-o", "p.fsc", "u.dat"}, SCORIX_FIT_BINARY);
    EXPECT_NE(dir.read("u.fsc").find("\n# names: Murder Assault UrbanPop Rape\n"), std::string::npos);
    auto numbers_of = [](const std::string& fsc) { return fsc.substr(fsc.find("# eigenvalues")); };
    EXPECT_EQ(numbers_of(dir.read("u.fsc")), numbers_of(dir.read("p.fsc")));
    run({"-q", "-a", "-f", "u.fsc", "--csv", "--header", "--labels=1", "u.csv"});
    run({"-q", "-a", "-f", "u.fsc", "-e", "psco", "u.dat"});
    const std::string scores = dir.read("u.sco");
    EXPECT_EQ(scores.substr(0, scores.find('\n')), "\"\",F1,F2,F3,F4");
    EXPECT_NE(scores.find("\n\"Alabama\",0.6195148,-1.127787,-0.7365303,-0.3714655\n"), std::string::npos);
    EXPECT_EQ(numbers_only(scores), dir.read("u.psco"));
    dir.write("s.csv", scores);
    run({"-q", "-i", "-a", "-f", "u.fsc", "--csv", "--header", "--labels=1", "s.csv"});
    run({"-q", "-i", "-a", "-f", "u.fsc", "u.psco"});
    const std::string back = dir.read("s.tad");
    EXPECT_EQ(back.substr(0, back.find('\n')), "\"\",Murder,Assault,UrbanPop,Rape");
    EXPECT_EQ(numbers_only(back), dir.read("u.tad"));
}

}  // namespace
