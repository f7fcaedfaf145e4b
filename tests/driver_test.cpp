// The whole program as a user runs it: console, exit status and files of every
// route through a run, also where the world says no (no room, pager or input).
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <tuple>

#include <sys/stat.h>

#include "score/driver.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

const std::string kAbsent = "<absent>", kExists = "<exists>";
const std::string kBanner = std::string(Version) + "\n";
const std::string kHead = kBanner + "Extension: .sco\nColumns:   3\nScores:    3\n";
// Rows with exact scores: the mean, one deviation above it, a blank line.
const std::string kData = "1 2 3\n3 2.5 4.5\n\n", kScores = "0 0 0\n-0.125 1.75 1.5\n0.75 -5.125 -5.5\n";
const std::string kDump = "matinv()\nfsc matrix after inverse:\n -1.86667e+01  1.06667e+01 -1.20000e+01\n"
                          "  6.66667e+00 -2.66667e+00  4.00000e+00\n -8.66667e+00  4.66667e+00 -5.00000e+00\n";
const std::string kHelp = read_file(SCORIX_HELP);

std::string numbers(int count, const char* value)
{
    std::string line = value;
    return repeat(line.append(" "), count - 1).append(value).append("\n");
}

// The opening of a quiet run's one console line.
std::string quiet(const char* ext = ".sco", int scores = 3)
{
    return std::string("Scorix: ext:").append(ext).append(" cols:3 scores:").append(std::to_string(scores)) + " ";
}

// Other starts: through a command that ends in the program's path, or from a
// copy of the program in a directory with a hostile name.
const std::string kBin = SCORIX_BINARY, kOdd = "it's a \"$(touch pwned)\" `x`;&|*?\\\n<dir>";
const std::vector<std::string> kStdinClosed = {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&-", kBin},
                               kStdinKept = {"/bin/sh", "-c", "printf 'next.dat\\n' | { \"$0\" \"$@\"; cat; }", kBin},
                               kStdinPipe = {"/bin/sh", "-c", "printf '1 2 3\\n' | exec \"$0\" \"$@\"", kBin},
                               kAllClosed = {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&- >&- 2>&-", kBin},
                               kStdoutClosed = {"/bin/sh", "-c", "exec \"$0\" \"$@\" <a.dat >&-", kBin},
                               kSmallMemory = {"/usr/bin/prlimit", "--as=67108864", kBin},
                               kSubstituted = {"/bin/bash", "-c", "exec \"$0\" <(tr , ' ' < b.csv) \"$@\"", kBin},
                               kOddPath = {"./" + kOdd + "/scorix"};

// One run in a fresh directory holding c.fsc and a.dat: its whole console and
// status, then the whole contents of the named files (the log's after its date).
struct Case {
    std::string name;
    std::vector<std::string> args = {};
    std::string out = {}, err = {};
    int status = 0;
    Files expect = {};  // whole contents, or kAbsent / kExists
    Files files = {};   // written before the run
    std::function<void(const fs::path&)> setup = nullptr;
    std::vector<std::string> command = {kBin};  // ending in the program's path
    std::vector<std::string> env = {};
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<Case> cases()
{
    const std::string ext = kBanner + "Extension: .sco\n", no_mean = "No mean available for this data!\n";
    const std::string bad_b = " holds illegal characters; only digits, '-', ',' and ' ' may stand in it.\n";
    const std::string e655 = "Error src/scorix 655:\nnumber of variables in std (3)\nand in ";
    const std::string id4 = "[FSC_SORTED]\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n";
    const std::string head500 = "[STD]\n" + numbers(500, "1") + "[MEAN]\n" + numbers(500, "0") + "[FSC_SORTED]\n";
    const Files no_log = {{"logfile", kAbsent}};
    auto make_dir = [](const char* name) { return [name](const fs::path& d) { fs::create_directory(d / name); }; };
    const std::vector<std::string> timed = {"/usr/bin/timeout", "10", kBin};
    // Standard input through a pipe from `command`.
    auto piped = [](const std::string& command) {
        return std::vector<std::string>{"/bin/sh", "-c", command + " | exec \"$0\" \"$@\"", kBin};
    };
    const std::string bom = "\xef\xbb\xbf";
    // A table with decimal commas and names to quote; its scores read back
    // give it again, byte for byte.
    const std::string named = "# names: \"b;c\" \"d\"\"e\" g\n" + std::string(kThreeVariableFsc);
    const std::string table = "id;\"b;c\";\"d\"\"e\";g\nr1;1;2;3\nr2;3;2,5;4,5\n",
                      table_scores = "id;F1;F2;F3\nr1;0;0;0\nr2;-0,125;1,75;1,5\n";
    const std::vector<std::string> comma = {"--delimiter=;", "--decimal=,", "--header", "-f", "n.fsc"};
    auto with = [](std::vector<std::string> args, std::initializer_list<std::string> more) {
        args.insert(args.end(), more);
        return args;
    };
    // One case a row, as the table reads best.
    // clang-format off
    return {
        // A forward run with its steps traced, quietly, and the inverse.
        {"forward_traced", {"--debug", "-f", "c.fsc", "a.dat"},
         kHead + "File:      a.dat\nscanning file\nreading file\nstandardize()\nscorix()\nwritefile()\nRows:      3\n",
         "", 0, {{"a.sco", kScores}}},
        {"quiet_two_files", {"-q", "-s", "1", "-f", "c.fsc", "a.dat", "b.dat"},
         quiet(".sco", 1) + "rows:3 file:a.datrows:1 file:b.dat\n",
         "", 0, {{"a.sco", "0\n-0.125\n0.75\n"}, {"b.sco", "0\n"}}, {{"b.dat", "1 2 3\n"}}},
        {"inverse_debug", {"-i", "-a", "--debug", "-f", "c.fsc", "a.sco"},
         kBanner + "Extension: .tad\nColumns:   3\nScores:    3\n" + kDump +
             "File:      a.sco\nscanning file\nreading file\nscorix()\nunstandardize()\nwritefile()\nRows:      3\n",
         "", 0, {{"a.tad", "1 2 3\n3 2.5 4.5\n3.552714e-15 -1.776357e-15 5.329071e-15\n"}}, {{"a.sco", kScores}}},
        {"inverse_without_operands", {"-q", "-i", "--debug", "-f", "c.fsc"}, quiet(".tad") + kDump + "\n", "", 0,
         {{"logfile", kExists}}},
        {"no_mean_input", {"-q", "--no-mean-input", "-s", "1", "-f", "c.fsc", "a.dat"},
         quiet(".sco", 1) + "rows:3 file:a.dat\n", "", 0, {{"a.sco", "-0.75\n-0.875\n0\n"}}},
        {"no_mean_section", {"-q", "-f", "n.fsc", "b.dat"},
         "Scorix: ext:.sco " + no_mean + "cols:2 scores:2 rows:1 file:b.dat\n", "", 0,
         {{"b.sco", "3 4\n"}}, {{"n.fsc", "[STD]\n1 1\n[FSC_SORTED]\n1 0\n0 1\n"}, {"b.dat", "3 4\n"}}},
        // The extension gets its dot, the scores are at most the columns;
        // options after operands, "--", and POSIXLY_CORRECT.
        {"extension_dot_and_score_limit", {"-e", "sco", "--scores=7", "-q", "-f", "c.fsc"}, quiet() + "\n"},
        {"options_after_operands_and_double_dash", {"a.dat", "-q", "-f", "c.fsc", "--", "-x.dat"},
         quiet() + "rows:3 file:a.datrows:1 file:-x.dat\n", "", 0,
         {{"a.sco", kScores}, {"-x.sco", "0 0 0\n"}, {"logfile", " " + kBin + " -q -f c.fsc -- a.dat -x.dat\n"}},
         {{"-x.dat", "1 2 3\n"}}},
        {"posixly_correct", {"--more", "a.dat", "-f", "c.fsc"}, ext + kHelp, "", 0, {{"a.sco", kAbsent}}, {}, nullptr,
         {kBin}, {"POSIXLY_CORRECT=1"}},
        // The help: direct with --more, else paged through more by the same
        // program, however odd its path; also after a bad option or no -f.
        {"help_more_h", {"--more", "-H", "-f", "c.fsc"}, kHelp, "", 0, no_log},
        {"help_abbreviated", {"--he", "--more"}, kHelp, "", 1, no_log},
        {"help_paged_odd_path", {"-h"}, kHelp, "", 1, {{"pwned", kAbsent}}, {},
         [](const fs::path& d) { fs::create_directory(d / kOdd), fs::copy_file(kBin, d / kOdd / "scorix"); }, kOddPath},
        {"help_no_pager", {"-h"}, "", "sh: 1: more: not found\n", 1, {}, {}, nullptr, {kBin}, {"PATH=/nonexistent"}},
        {"invalid_option", {"--more", "-n", "-f", "c.fsc"}, kHelp, kBin + ": invalid option -- 'n'\n"},
        {"no_fsc", {"a.dat"}, ext + kHelp, "", 1, no_log},
        // -b is screened while the options are read.
        {"b_list", {"-b", "3, 1", "-f", "c.fsc", "a.dat"},
         ext + "3, 1, \nColumns:   3\nScores:    3\nFile:      a.dat\nRows:      3\n", "", 0,
         {{"a.sco", "-0.5 -4 -2\n-0.75 -3.25 -1\n0.75 -5.125 -5.5\n"}}},
        {"b_semicolon", {"-b", "1;2", "-f", "c.fsc", "a.dat"}, "Option -b: the list \"1;2\"" + bad_b, "", 1,
         {{"a.sco", kAbsent}}},
        // Faulty coefficients stop the run before any data file.
        {"fsc_without_std_217", {"-f", "x.fsc", "a.dat"}, ext + no_mean + "Columns:   1\nScores:    1\n",
         "Error src/scorix 217: no [STD] or [FSC_SORTED] in x.fsc\n", 1, {{"a.sco", kAbsent}},
         {{"x.fsc", "[FSC_SORTED]\n1\n"}}},
        {"fsc_std_218", {"-q", "-f", "x.fsc"}, "Scorix: ext:.sco cols:4 scores:3 ",
         "Error src/scorix 218:\nnumber of fsc (4) and\nnumber of std (3) is missmatched\n", 1, {},
         {{"x.fsc", "[STD]\n1 2 3\n[MEAN]\n1 2 3 4\n" + id4}}},
        {"fsc_mean_219", {"-q", "-f", "x.fsc"}, "Scorix: ext:.sco cols:4 scores:3 ",
         "Error src/scorix 219:\nnumber of fsc (4) and\nnumber of mean (3) is missmatched\n", 1, {},
         {{"x.fsc", "[MEAN]\n1 2 3\n" + id4 + "[STD]\n1 1 1 1\n"}}},
        {"fsc_empty_matrix_220", {"-q", "-f", "x.fsc", "a.dat"}, "Scorix: ext:.sco " + no_mean + "cols:2 scores:2 ",
         "Error src/scorix 220:\nnumber of std (2) and\nnumber of fsc (0) is missmatched\n", 1, {{"a.sco", kAbsent}},
         {{"x.fsc", "[FSC_SORTED]\n\n[STD]\n1 2\n"}}},
        {"fsc_singular_232", {"-q", "-i", "-f", "x.fsc", "a.dat"}, "Scorix: ext:.tad " + no_mean + "cols:2 scores:2 ",
         "Error src/scorix 232: [FSC_SORTED] in x.fsc is singular, no inverse\n", 1, {{"a.tad", kAbsent}},
         {{"x.fsc", "[STD]\n1 1\n[FSC_SORTED]\n1 2\n2 4\n"}}},
        {"fsc_absent_leaves_stdin", {"-q", "-f", "absent.fsc"}, "Scorix: ext:.sco next.dat\n",
         "Error: opening absent.fsc\n", 0, {}, {}, nullptr, kStdinKept},
        {"fsc_directory", {"-q", "-f", "x.fsc", "a.dat"}, "Scorix: ext:.sco ", "Error: reading x.fsc\n", 1,
         {{"a.sco", kAbsent}}, {}, make_dir("x.fsc")},
        // A failing data file ends the run; earlier outputs stay, its own is not left.
        {"data_missing_646", {"-q", "-f", "c.fsc", "a.dat", "missing.dat", "a.dat"}, quiet() + "rows:3 file:a.dat",
         "Error src/scorix 646:opening missing.dat\n", 1, {{"a.sco", kScores}, {"missing.sco", kAbsent}}},
        {"data_directory_647", {"-q", "-f", "c.fsc", "d.dat"}, quiet(), "Error src/scorix 647:reading d.dat\n", 1,
         {{"d.sco", kAbsent}}, {}, make_dir("d.dat")},
        // Standard input and a shell's pipes are read once, compressed or not,
        // their scores streamed to standard output and the console moved to
        // standard error; standard input can be named once.
        {"stdin_console_on_stderr", {"-f", "c.fsc", "-"}, kScores, kHead + "File:      -\nRows:      3\n", 0,
         {{"-.sco", kAbsent}, {"logfile", " " + kBin + " -f c.fsc -\n"}}, {}, nullptr, piped("cat a.dat")},
        {"stdin_zstd", {"-q", "-f", "c.fsc", "-"}, kScores, quiet() + "rows:3 file:-\n", 0, {}, {}, nullptr,
         piped("zstd -qc a.dat")},
        {"stdin_gzip_bom_inverse", {"-q", "-i", "-a", "-f", "c.fsc", "-"},
         "1 2 3\n3 2.5 4.5\n3.552714e-15 -1.776357e-15 5.329071e-15\n", quiet(".tad") + "rows:3 file:-\n", 0, {},
         {{"s.sco", bom + kScores}}, nullptr, piped("gzip -c s.sco")},
        {"stdin_twice_649", {"-q", "-f", "c.fsc", "-", "a.dat", "-"}, "",
         quiet() + "Error src/scorix 649:standard input (-) named more than once\n", 1, {{"a.sco", kAbsent}}},
        {"dev_stdin", {"-q", "-f", "c.fsc", "/dev/stdin"}, "0 0 0\n", quiet() + "rows:1 file:/dev/stdin\n", 0, {}, {},
         nullptr, kStdinPipe},
        {"process_substitution", {"-q", "-f", "c.fsc"}, "0 0 0\n-0.125 1.75 1.5\n",
         quiet() + "rows:2 file:/dev/fd/63\n", 0, {}, {{"b.csv", "1,2,3\n3,2.5,4.5\n"}}, nullptr, kSubstituted},
        // A data FIFO waits for its writer; a log FIFO without a reader holds
        // nothing up.
        {"data_fifo_log_fifo", {"-q", "-f", "c.fsc", "p.dat"}, quiet() + "rows:3 file:p.dat\n", "No logfile entry\n",
         0, {{"p.sco", kScores}}, {},
         [](const fs::path& d) {
             ::mkfifo((d / "p.dat").c_str(), 0600), ::mkfifo((d / "logfile").c_str(), 0600);
             const std::string writer =
                 "cd '" + d.string() + "' && (timeout 30 sh -c 'cat a.dat >p.dat' <&- >&- 2>&- &)";
             EXPECT_EQ(std::system(writer.c_str()), 0);
         },
         timed},
        // A byte-order mark before the first line of a data or coefficient
        // file is skipped (the comment stays a comment).
        {"byte_order_marks", {"-q", "-f", "x.fsc", "b.dat"}, quiet() + "rows:2 file:b.dat\n", "", 0,
         {{"b.sco", "0 0 0\n-0.125 1.75 1.5\n"}},
         {{"x.fsc", bom + "#[MEAN] not here\n" + kThreeVariableFsc}, {"b.dat", bom + "1 2 3\n3 2.5 4.5\n"}}},
        {"stdin_closed", {"-q", "-f", "c.fsc", "missing.dat"}, quiet(), "Error src/scorix 646:opening missing.dat\n", 1,
         {}, {}, nullptr, kStdinClosed},
        // Closed standard streams take no file's place: the console goes nowhere.
        {"standard_streams_closed", {"--debug", "-f", "c.fsc", "a.dat"}, "", "", 0, {{"a.sco", kScores}}, {}, nullptr,
         kAllClosed},
        {"stdout_closed_761", {"-q", "-f", "c.fsc", "-"}, "",
         quiet() + "rows:3 file:-Error src/scorix 761:opening standard output\n", 1, {}, {}, nullptr, kStdoutClosed},
        // Tables: forward and back with decimal commas; the score names of the
        // inverse's header checked (here without its label field).
        {"table_decimal_comma", with(comma, {"-q", "--labels=1", "b.csv"}), quiet() + "rows:2 file:b.csv\n", "", 0,
         {{"b.sco", table_scores}}, {{"n.fsc", named}, {"b.csv", table}}},
        {"table_decimal_comma_inverse", with(comma, {"-q", "-i", "--labels=1", "b.sco"}),
         quiet(".tad") + "rows:2 file:b.sco\n", "", 0, {{"b.tad", table}}, {{"n.fsc", named}, {"b.sco", table_scores}}},
        {"table_inverse_names_662", with(comma, {"-q", "-i", "b.sco"}), quiet(".tad"),
         "Error src/scorix 662:b.sco:1:1: the data's name is \"id\", n.fsc has \"F1\"\n", 1, {{"b.tad", kAbsent}},
         {{"n.fsc", named}, {"b.sco", table_scores}}},
        {"table_inverse_more_names_662", {"-q", "-i", "--header", "-f", "c.fsc", "s.sco"}, quiet(".tad"),
         "Error src/scorix 662:s.sco:1:4: the data's name is \"F4\", c.fsc has missing\n", 1, {{"s.tad", kAbsent}},
         {{"s.sco", "F1 F2 F3 F4\n1 2 3 4\n"}}},
        // Scores written with -s 2 hold the first two: the third is 0, an empty field is missing.
        {"table_inverse_first_scores", {"-q", "-i", "--csv", "--header", "-f", "c.fsc", "s.sco"},
         quiet(".tad") + "rows:2 file:s.sco\n", "scorix: warning: s.sco: 1 row holds a missing value; its values are written as NA\n", 0,
         {{"s.tad", "V1,V2,V3\n1,2,3\nNA,NA,NA\n"}}, {{"s.sco", "F1,F2\n0,0\n0,\n"}}},
        {"data_wide_655", {"-f", "c.fsc", "w.dat"}, kHead + "File:      w.dat\n", e655 + "w.dat (4) mismatch.\n", 1,
         {{"w.sco", kAbsent}}, {{"w.dat", "1 2 3\n1 2 3 4\n"}}},
        {"output_directory_761", {"-q", "-f", "c.fsc", "a.dat"}, quiet() + "rows:3 file:a.dat",
         "Error src/scorix 761:opening a.sco\n", 1, {}, {}, make_dir("a.sco")},
        {"output_full_762", {"-q", "-f", "c.fsc", "f.dat"}, quiet() + "rows:20000 file:f.dat",
         "Error src/scorix 762:writing f.sco\n", 1, {{"f.sco", kExists}}, {{"f.dat", repeat("1 2 3\n", 20000)}},
         [](const fs::path& d) { fs::create_symlink("/dev/full", d / "f.sco"); }},
        {"log_unwritable", {"-q", "-f", "c.fsc", "a.dat"}, quiet() + "rows:3 file:a.dat\n", "No logfile entry\n", 0,
         {{"a.sco", kScores}}, {}, make_dir("logfile")},
        // An input that is its own output is read over blocks to its end
        // before it is replaced; a link is written through.
        {"input_replaced_by_output", {"-q", "-f", "c.fsc", "x.sco", "link.sco"},
         quiet() + "rows:60000 file:x.scorows:3 file:link.sco\n", "", 0,
         {{"x.sco", repeat(kScores, 20000)}, {"t.dat", kScores}, {"link.sco", kScores}},
         {{"x.sco", repeat(kData, 20000)}, {"t.dat", kData}},
         [](const fs::path& d) { fs::create_symlink("t.dat", d / "link.sco"); }},
        // No room: a 40 MB line, a matrix; rows stream in blocks where
        // whole-file matrices would need 200 MB.
        {"no_room_long_line", {"-q", "-f", "c.fsc", "h.dat"}, quiet(), "Error src/scorix 647:reading h.dat\n", 1,
         {{"h.sco", kAbsent}}, {},
         [](const fs::path& d) { std::ofstream(d / "h.dat") << "1 2 3\n" + std::string(40 << 20, 'x') + "\n1 2 3\n"; },
         kSmallMemory},
        {"no_room_matrix_558", {"-q", "-f", "x.fsc"}, "Scorix: ext:.sco ",
         "Error src/scorix 558: allocating 3200000000 bytes\n", 1, {},
         {{"x.fsc", "[FSC_SORTED]\n" + numbers(20000, "1")}}, nullptr, kSmallMemory},
        {"blocks_in_64_mib", {"-q", "-f", "x.fsc", "h.dat"},
         "Scorix: ext:.sco cols:500 scores:3 rows:25000 file:h.dat\n", "", 0, {{"h.sco", repeat("0 0 0\n", 25000)}},
         {{"x.fsc", head500 + repeat(numbers(500, "1"), 500)}, {"h.dat", std::string(25000, '\n')}}, nullptr,
         kSmallMemory},
        // Lines skipped before the first row are not kept.
        {"skipped_lines_in_64_mib", {"-q", "-f", "c.fsc", "h.dat"}, quiet() + "rows:1 file:h.dat\n", "", 0,
         {{"h.sco", "0 0 0\n"}}, {},
         [](const fs::path& d) { std::ofstream(d / "h.dat") << repeat("# comment\n", 5 << 20) + "1 2 3\n"; },
         kSmallMemory},
        // Values beyond the double range, text among the numbers.
        {"out_of_range_values", {"-q", "-f", "c.fsc", "h.dat"}, quiet() + "rows:2 file:h.dat\n", "", 0,
         {{"h.sco", "-nan -nan -inf\n1.5 -1 -4\n"}}, {{"h.dat", "1e400 -1e400 1e-400\n1 2 4.9e-324\n"}}},
        {"text_where_numbers_expected", {"-q", "-f", "c.fsc", "h.dat"}, quiet() + "rows:4 file:h.dat\n",
         "scorix: warning: h.dat: 2 rows hold text where numbers were expected (first at line 1: \"x?\"); their "
         "missing values were read as 0\n",
         0, {{"h.sco", kExists}}, {{"h.dat", "x\1\n1 2 3\n4 five 6\n# comment\n\n"}}},
        // An unknown vector level is named and ignored.
        {"vectors_unknown", {"-q", "-f", "c.fsc", "a.dat"}, quiet() + "rows:3 file:a.dat\n",
         "scorix: warning: SCORIX_VECTORS=sse9 is not none, avx2 or avx512: ignored\n", 0, {{"a.sco", kScores}}, {},
         nullptr, {kBin}, {"SCORIX_VECTORS=sse9"}},
    };
    // clang-format on
}

}  // namespace

class Cli : public testing::TestWithParam<Case> {};

TEST_P(Cli, GivesItsConsoleStatusAndFiles)
{
    const Case& c = GetParam();
    ScratchDir dir;
    dir.write("c.fsc", kThreeVariableFsc);
    dir.write("a.dat", kData);
    for (const auto& [name, bytes] : c.files)
        dir.write(name, bytes);
    if (c.setup)
        c.setup(dir.path());
#ifdef SCORIX_SANITIZED
    if (c.command == kSmallMemory)
        GTEST_SKIP() << "the sanitizers reserve more than 64 MiB";
#endif
    std::vector<std::string> args(c.command.begin() + 1, c.command.end());
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = run_scorix(dir, args, c.env, c.command.front());
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
    for (const auto& [name, bytes] : c.expect) {
        std::string got = dir.exists(name) ? kExists : kAbsent;
        if (bytes != kAbsent && bytes != kExists)
            got = dir.read(name).erase(0, name == "logfile" ? 19 : 0);  // the time stamp
        EXPECT_TRUE(got == bytes) << name << ": expected\n" << bytes.substr(0, 300) << "\ngot\n" << got.substr(0, 300);
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, Cli, testing::ValuesIn(cases()), [](const auto& info) { return info.param.name; });

// Scores streamed to standard output cannot be taken back: a line with too
// many numbers after several blocks leaves whole lines of the rows before it
// there, and the error and the status say that the run failed.
TEST(Cli, StreamedOutputCutByAnErrorIsReportedIncomplete)
{
    ScratchDir dir;
    dir.write("c.fsc", kThreeVariableFsc);
    dir.write("a.dat", repeat(kData, 150'000) + "1 2 3 4\n");
    const RunResult run = run_scorix(dir, {"-c", "cat a.dat | exec \"$0\" -q -f c.fsc -", kBin}, {}, "/bin/sh");
    EXPECT_EQ(std::tuple(run.status, run.err),
              std::tuple(1, quiet() + "Error src/scorix 655:\nnumber of variables in std (3)\nand in - (4) mismatch.\n"
                                      "scorix: the output on standard output is incomplete\n"));
    // Whole lines of the rows before the failure, as many as the blocks
    // written before it held.
    const std::string all = repeat(kScores, 150'000);
    EXPECT_TRUE(!run.out.empty() && run.out.size() < all.size() && run.out.back() == '\n' &&
                all.compare(0, run.out.size(), run.out) == 0)
        << run.out.size() << " bytes";
}

// 32 runs at once in one directory, on copies of the iris rows: each output
// is that of a single run, and the log holds one whole line each.
TEST(Cli, ConcurrentRunsGiveTheSingleRunOutputsAndWholeLogLines)
{
    ScratchDir dir;
    fs::copy_file(SCORIX_EXAMPLES "/iris.fsc", dir.path() / "iris.fsc");
    fs::copy_file(SCORIX_EXAMPLES "/iris.dat", dir.path() / "iris.dat");
    ASSERT_EQ(run_scorix(dir, {"-q", "-a", "-f", "iris.fsc", "iris.dat"}).status, 0);
    const std::string iris = dir.read("iris.dat"), alone = dir.read("iris.sco");
    std::multiset<std::string> expected_log, log;
    for (int i = 0; i < 32; ++i) {
        dir.write(std::to_string(i) + ".dat", "# copy " + std::to_string(i) + "\n" + repeat(iris, i % 7 + 20));
        expected_log.insert(" " + kBin + " -q -a -f iris.fsc " + std::to_string(i) + ".dat");
    }
    fs::remove(dir.path() / "logfile");
    const char* all_at_once = "seq 0 31 | xargs -P 32 -I @ \"$0\" -q -a -f iris.fsc @.dat";
    RunResult together = run_scorix(dir, {"-c", all_at_once, kBin}, {}, "/bin/sh");
    EXPECT_EQ(together.status, 0) << together.err;
    for (int i = 0; i < 32; ++i)
        EXPECT_TRUE(dir.read(std::to_string(i) + ".sco") == repeat(alone, i % 7 + 20)) << i;
    std::istringstream lines(dir.read("logfile"));
    for (std::string line; std::getline(lines, line);)
        log.insert(line.substr(std::min<std::size_t>(19, line.size())));
    EXPECT_EQ(log, expected_log);
}
