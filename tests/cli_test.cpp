// The whole program as a user runs it: console, exit status and files of
// every route through a run, including the ones where the outside world says
// no (unreadable files, a full address space, no pager, no standard input).
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <sstream>

#include "driver.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, std::string>>;

const std::string kAbsent = "<absent>", kExists = "<exists>";
const std::string kBanner = std::string(Version) + "\n";
const std::string kHead = kBanner + "Extension: .sco\nColumns:   3\nScores:    3\n";
// Rows whose scores are exact in binary: the mean row, a row one deviation
// above the mean everywhere, and a blank line.
const std::string kData = "1 2 3\n3 2.5 4.5\n\n", kScores = "0 0 0\n-0.125 1.75 1.5\n0.75 -5.125 -5.5\n";
const std::string kDump = "matinv()\nfsc matrix after inverse:\n -1.86667e+01  1.06667e+01 -1.20000e+01\n"
                          "  6.66667e+00 -2.66667e+00  4.00000e+00\n -8.66667e+00  4.66667e+00 -5.00000e+00\n";
// The help screen, as printed.
const std::string kHelp = read_file(SCORIX_HELP);

std::string repeat(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

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

// How the program is started: directly, as an unprivileged user (root may
// read and write anything), from a directory with a hostile name, with
// standard input closed or a pipe, or in a 64 MiB address space.
enum class Start { Directly, Unprivileged, OddPath, StdinClosed, StdinPipe, AddressSpace64 };

// The command that starts the program in `dir`, ending in its path; empty
// when this machine or build cannot start it that way.
std::vector<std::string> command(Start start, const fs::path& dir)
{
    const std::string program = SCORIX_BINARY;
    switch (start) {
    case Start::Unprivileged: {
        if (geteuid() != 0)
            return {program};
        fs::permissions(dir, fs::perms::all);  // the user runs its own copy there
        fs::copy_file(program, dir / "scorix");
        return {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", (dir / "scorix").string()};
    }
    case Start::OddPath: {
        fs::path odd = dir / "it's a \"$(touch pwned)\" `x`;&|*?\\\n<dir>";
        fs::create_directory(odd);
        fs::copy_file(program, odd / "scorix");
        return {(odd / "scorix").string()};
    }
    case Start::StdinClosed: return {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&-", program};
    case Start::StdinPipe: return {"/bin/sh", "-c", "printf '1 2 3\\n' | exec \"$0\" \"$@\"", program};
#ifdef SCORIX_SANITIZED
    case Start::AddressSpace64: return {};  // the sanitizers reserve more than that
#else
    case Start::AddressSpace64: return {"/usr/bin/prlimit", "--as=67108864", program};
#endif
    default: return {program};
    }
}

// One run in a fresh directory holding c.fsc and a.dat: its whole console,
// status, and afterwards the whole contents of the named files (the log's
// after its time stamp).
struct Case {
    std::string name;
    std::vector<std::string> args = {};
    std::string out = {}, err = {};
    int status = 0;
    Files expect = {};  // whole contents, or kAbsent / kExists
    Files files = {};   // written before the run
    std::function<void(const fs::path&)> setup = nullptr;
    Start start = Start::Directly;
    std::vector<std::string> env = {};
};

void PrintTo(const Case& c, std::ostream* out)
{
    *out << c.name;
}

std::vector<Case> cases()
{
    const std::string bin = SCORIX_BINARY, ext = kBanner + "Extension: .sco\n";
    const std::string no_mean = "No mean available for this data!\n";
    const std::string bad_b = " holds illegal characters; only digits, '-', ',' and ' ' may stand in it.\n";
    const std::string e655 = "Error src/scorix 655:\nnumber of variables in std (3)\nand in ";
    const std::string id4 = "[FSC_SORTED]\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n";
    const std::string head500 = "[STD]\n" + numbers(500, "1") + "[MEAN]\n" + numbers(500, "0") + "[FSC_SORTED]\n";
    const Files no_log = {{"logfile", kAbsent}};
    auto make_dir = [](const char* name) { return [name](const fs::path& d) { fs::create_directory(d / name); }; };
    auto take_rights = [](const char* name, fs::perms left) {
        return [name, left](const fs::path& d) { fs::permissions(d / name, left); };
    };
    return {
        // A forward run, quietly, with its steps traced, and the inverse.
        {"forward", {"-f", "c.fsc", "a.dat"}, kHead + "File:      a.dat\nRows:      3\n", "", 0, {{"a.sco", kScores}}},
        {"quiet_two_files", {"-q", "-s", "1", "-f", "c.fsc", "a.dat", "b.dat"},
         quiet(".sco", 1) + "rows:3 file:a.datrows:1 file:b.dat\n",
         "", 0, {{"a.sco", "0\n-0.125\n0.75\n"}, {"b.sco", "0\n"}}, {{"b.dat", "1 2 3\n"}}},
        {"debug_trace", {"--debug", "-f", "c.fsc", "a.dat"},
         kHead + "File:      a.dat\nscanning file\nRows:      3\nreading file\nstandardize()\nscorix()\nwritefile()\n"},
        {"inverse_debug", {"-i", "-a", "--debug", "-f", "c.fsc", "a.sco"},
         kBanner + "Extension: .tad\nColumns:   3\nScores:    3\n" + kDump +
             "File:      a.sco\nscanning file\nRows:      3\nreading file\nscorix()\nunstandardize()\nwritefile()\n",
         "", 0, {{"a.tad", "1 2 3\n3 2.5 4.5\n3.552714e-15 -1.776357e-15 5.329071e-15\n"}}, {{"a.sco", kScores}}},
        {"inverse_without_operands", {"-q", "-i", "--debug", "-f", "c.fsc"}, quiet(".tad") + kDump + "\n", "", 0,
         {{"logfile", kExists}}},
        {"no_mean_input", {"-q", "--no-mean-input", "-s", "1", "-f", "c.fsc", "a.dat"},
         quiet(".sco", 1) + "rows:3 file:a.dat\n", "", 0, {{"a.sco", "-0.75\n-0.875\n0\n"}}},
        {"no_mean_section", {"-q", "-f", "n.fsc", "b.dat"},
         "Scorix: ext:.sco " + no_mean + "cols:2 scores:2 rows:1 file:b.dat\n", "", 0,
         {{"b.sco", "3 4\n"}}, {{"n.fsc", "[STD]\n1 1\n[FSC_SORTED]\n1 0\n0 1\n"}, {"b.dat", "3 4\n"}}},
        // The extension, the number of scores, and the upper-case aliases.
        {"upper_case_aliases", {"-I", "-E", "dat", "-S", "2x", "-Q", "-f", "c.fsc"}, quiet(".dat", 2) + "\n"},
        {"extension_dot_and_score_limit", {"-e", "sco", "--scores=7", "-q", "-f", "c.fsc"}, quiet() + "\n"},
        // Options after operands, "--", and POSIXLY_CORRECT.
        {"options_after_operands", {"a.dat", "-q", "-f", "c.fsc"}, quiet() + "rows:3 file:a.dat\n", "", 0,
         {{"a.sco", kScores}, {"logfile", " " + bin + " -q -f c.fsc a.dat\n"}}},
        {"double_dash", {"-q", "-f", "c.fsc", "--", "-x.dat"}, quiet() + "rows:1 file:-x.dat\n", "", 0,
         {{"-x.sco", "0 0 0\n"}}, {{"-x.dat", "1 2 3\n"}}},
        {"posixly_correct", {"--more", "a.dat", "-f", "c.fsc"}, ext + kHelp, "", 0, {{"a.sco", kAbsent}}, {}, nullptr,
         Start::Directly, {"POSIXLY_CORRECT=1"}},
        // The help: printed directly with --more, else paged through more by
        // the same program, however odd its path; a rejected option or a
        // missing -f shows it too.
        {"help_more_h", {"--more", "-H", "-f", "c.fsc"}, kHelp, "", 0, no_log},
        {"help_more_question_mark", {"--more", "-?"}, kHelp, "", 0, no_log},
        {"help_abbreviated", {"--he", "--more"}, kHelp, "", 1, no_log},
        {"help_paged", {"-h"}, kHelp, "", 1, no_log},
        {"help_paged_odd_path", {"-h"}, kHelp, "", 1, {{"pwned", kAbsent}}, {}, nullptr, Start::OddPath},
        {"help_no_pager", {"-h"}, "", "sh: 1: more: not found\n", 1, {}, {}, nullptr, Start::Directly,
         {"PATH=/nonexistent"}},
        {"invalid_option", {"--more", "-n", "-f", "c.fsc"}, kHelp, bin + ": invalid option -- 'n'\n"},
        {"missing_argument", {"--more", "-f"}, kHelp, bin + ": option requires an argument -- 'f'\n"},
        {"more_without_fsc", {"--more", "a.dat"}, ext + kHelp, "", 0, no_log},
        {"no_fsc", {"a.dat"}, ext + kHelp, "", 1, no_log},
        // -b is screened while the options are read.
        {"b_list", {"-b", "3, 1", "-f", "c.fsc", "a.dat"},
         ext + "3, 1, \nColumns:   3\nScores:    3\nFile:      a.dat\nRows:      3\n", "", 0,
         {{"a.sco", "-0.5 -4 -2\n-0.75 -3.25 -1\n0.75 -5.125 -5.5\n"}}},
        {"b_semicolon", {"-b", "1;2", "-f", "c.fsc", "a.dat"}, "Option -b: the list \"1;2\"" + bad_b, "", 1,
         {{"a.sco", kAbsent}}},
        {"b_tab", {"-b", "1\t2", "-f", "c.fsc"}, "Option -b: the list \"1\t2\"" + bad_b, "", 1},
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
        {"fsc_absent", {"-q", "-f", "absent.fsc"}, "Scorix: ext:.sco ", "Error: opening absent.fsc\n", 1},
        {"fsc_directory", {"-q", "-f", "x.fsc", "a.dat"}, "Scorix: ext:.sco ", "Error: reading x.fsc\n", 1,
         {{"a.sco", kAbsent}}, {}, make_dir("x.fsc")},
        {"fsc_unreadable", {"-q", "-f", "c.fsc", "a.dat"}, "Scorix: ext:.sco ", "Error: opening c.fsc\n", 1,
         {{"a.sco", kAbsent}}, {}, take_rights("c.fsc", fs::perms::owner_write), Start::Unprivileged},
        // A failing data file ends the run, keeping the outputs before it and
        // leaving no incomplete output of its own.
        {"data_missing_646", {"-q", "-f", "c.fsc", "a.dat", "missing.dat", "a.dat"}, quiet() + "rows:3 file:a.dat",
         "Error src/scorix 646:opening missing.dat\n", 1, {{"a.sco", kScores}}},
        {"data_unreadable_646", {"-q", "-f", "c.fsc", "a.dat", "u.dat"}, quiet() + "rows:3 file:a.dat",
         "Error src/scorix 646:opening u.dat\n",
         1, {{"a.sco", kScores}, {"u.sco", kAbsent}}, {{"u.dat", kData}}, take_rights("u.dat", fs::perms::none),
         Start::Unprivileged},
        {"data_directory_647", {"-q", "-f", "c.fsc", "d.dat"}, quiet(), "Error src/scorix 647:reading d.dat\n", 1,
         {{"d.sco", kAbsent}}, {}, make_dir("d.dat")},
        {"data_pipe_648", {"-q", "-f", "c.fsc", "/dev/stdin"}, quiet(),
         "Error src/scorix 648:/dev/stdin is a pipe; a data file is read twice\n", 1, {}, {}, nullptr,
         Start::StdinPipe},
        {"stdin_closed", {"-q", "-f", "c.fsc", "missing.dat"}, quiet(), "Error src/scorix 646:opening missing.dat\n", 1,
         {{"missing.sco", kAbsent}}, {}, nullptr, Start::StdinClosed},
        {"data_wide_655", {"-f", "c.fsc", "w.dat"}, kHead + "File:      w.dat\n", e655 + "w.dat (4) mismatch.\n", 1,
         {{"w.sco", kAbsent}}, {{"w.dat", "1 2 3\n1 2 3 4\n"}}},
        {"output_directory_761", {"-q", "-f", "c.fsc", "a.dat"}, quiet() + "rows:3 file:a.dat",
         "Error src/scorix 761:opening a.sco\n", 1, {}, {}, make_dir("a.sco")},
        {"output_read_only_761", {"-q", "-f", "c.fsc", "ro/a.dat"}, quiet() + "rows:3 file:ro/a.dat",
         "Error src/scorix 761:opening ro/a.sco\n", 1, {{"ro/a.sco", kAbsent}}, {},
         [](const fs::path& d) {
             fs::create_directory(d / "ro");
             fs::copy_file(d / "a.dat", d / "ro/a.dat");
             fs::permissions(d / "ro", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                             fs::perm_options::remove);
         }, Start::Unprivileged},
        {"output_full_762", {"-q", "-f", "c.fsc", "f.dat"}, quiet() + "rows:20000 file:f.dat",
         "Error src/scorix 762:writing f.sco\n", 1, {{"f.sco", kExists}}, {{"f.dat", repeat("1 2 3\n", 20000)}},
         [](const fs::path& d) { fs::create_symlink("/dev/full", d / "f.sco"); }},
        {"log_unwritable", {"-q", "-f", "c.fsc", "a.dat"}, quiet() + "rows:3 file:a.dat\n", "No logfile entry\n", 0,
         {{"a.sco", kScores}}, {{"logfile", ""}}, take_rights("logfile", fs::perms::owner_read), Start::Unprivileged},
        // An input with the output extension is read to its end before its
        // output replaces it, over more than one block; a link is written
        // through.
        {"input_replaced_by_output", {"-q", "-f", "c.fsc", "x.sco", "link.sco"},
         quiet() + "rows:60000 file:x.scorows:3 file:link.sco\n", "", 0,
         {{"x.sco", repeat(kScores, 20000)}, {"t.dat", kScores}, {"link.sco", kScores}},
         {{"x.sco", repeat(kData, 20000)}, {"t.dat", kData}},
         [](const fs::path& d) { fs::create_symlink("t.dat", d / "link.sco"); }},
        // No room: a 40 MB line, a matrix; rows stream in blocks where
        // whole-file matrices would need 200 MB.
        {"no_room_long_line", {"-q", "-f", "c.fsc", "h.dat"}, quiet(), "Error src/scorix 647:reading h.dat\n", 1,
         {{"h.sco", kAbsent}},
         {}, [](const fs::path& d) {
             std::ofstream(d / "h.dat") << "1 2 3\n" << std::string(40 << 20, 'x') << "\n1 2 3\n";
         },
         Start::AddressSpace64},
        {"no_room_matrix_558", {"-q", "-f", "x.fsc"}, "Scorix: ext:.sco ",
         "Error src/scorix 558: allocating 3200000000 bytes\n", 1, {},
         {{"x.fsc", "[FSC_SORTED]\n" + numbers(20000, "1")}}, nullptr, Start::AddressSpace64},
        {"blocks_in_64_mib", {"-q", "-f", "x.fsc", "h.dat"},
         "Scorix: ext:.sco cols:500 scores:3 rows:25000 file:h.dat\n", "", 0, {{"h.sco", repeat("0 0 0\n", 25000)}},
         {{"x.fsc", head500 + repeat(numbers(500, "1"), 500)}, {"h.dat", std::string(25000, '\n')}}, nullptr,
         Start::AddressSpace64},
        // Values beyond the double range, text among the numbers, -b numbers
        // beyond a long.
        {"out_of_range_values", {"-q", "-f", "c.fsc", "h.dat"}, quiet() + "rows:2 file:h.dat\n", "", 0,
         {{"h.sco", "-nan -nan -inf\n1.5 -1 -4\n"}},         {{"h.dat", "1e400 -1e400 1e-400\n1 2 4.9e-324\n"}}},
        {"text_where_numbers_expected", {"-q", "-f", "c.fsc", "h.dat"}, quiet() + "rows:4 file:h.dat\n",
         "scorix: warning: h.dat: 2 rows hold text where numbers were expected (first at line 1: \"x?\"); their "
         "missing values were read as 0\n",
         0, {{"h.sco", kExists}}, {{"h.dat", "x\1\n1 2 3\n4 five 6\n# comment\n\n"}}},
        {"b_huge_numbers", {"-b", "2-99999999999999999999999, 99999999999999999999", "-q", "-f", "c.fsc", "h.dat"},
         quiet() + "rows:1 file:h.dat\n", "", 0, {{"h.sco", "-0.875 1.375 3\n"}}, {{"h.dat", "3 2.5 4.5\n"}}},
    };
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
    std::vector<std::string> args = command(c.start, dir.path());
    if (args.empty())
        GTEST_SKIP() << "this machine or build cannot start the program so";
    std::string program = args.front();
    args.erase(args.begin());
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunResult run = run_scorix(dir, args, c.env, program);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.status, c.status);
    for (const auto& [name, bytes] : c.expect) {
        if (bytes == kAbsent || bytes == kExists) {
            EXPECT_EQ(dir.exists(name), bytes == kExists) << name;
            continue;
        }
        std::string got = dir.read(name);
        got.erase(0, name == "logfile" ? 19 : 0);  // the time stamp
        EXPECT_TRUE(got == bytes) << name << ": expected\n" << bytes.substr(0, 300) << "\ngot\n" << got.substr(0, 300);
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, Cli, testing::ValuesIn(cases()), [](const auto& info) { return info.param.name; });

// 32 runs at once in one directory, each on its own data file: every output
// equals that of the file's run alone, and the log holds one whole line each.
TEST(Cli, ConcurrentRunsGiveTheSingleRunOutputsAndWholeLogLines)
{
    ScratchDir dir;
    fs::copy_file(SCORIX_EXAMPLES "/iris.fsc", dir.path() / "iris.fsc");
    std::vector<std::string> alone;
    std::multiset<std::string> expected_log, log;
    const std::string iris = dir.read(SCORIX_EXAMPLES "/iris.dat");  // an absolute name reads from outside
    for (int i = 0; i < 32; ++i) {
        std::string name = std::to_string(i), text = "# copy ";
        dir.write(name + ".dat", text.append(name + "\n") + repeat(iris, i % 7 + 20));
        ASSERT_EQ(run_scorix(dir, {"-q", "-a", "-f", "iris.fsc", name + ".dat"}).status, 0);
        alone.push_back(dir.read(name + ".sco"));
        fs::remove(dir.path() / (name + ".sco"));
        expected_log.insert(std::string(" ") + SCORIX_BINARY + " -q -a -f iris.fsc " + name + ".dat");
    }
    fs::remove(dir.path() / "logfile");
    const char* all_at_once = "seq 0 31 | xargs -P 32 -I @ \"$0\" -q -a -f iris.fsc @.dat";
    RunResult together = run_scorix(dir, {"-c", all_at_once, SCORIX_BINARY}, {}, "/bin/sh");
    EXPECT_EQ(together.status, 0) << together.err;
    for (std::size_t i = 0; i < alone.size(); ++i)
        EXPECT_TRUE(dir.read(std::to_string(i) + ".sco") == alone[i]) << i;
    std::istringstream lines(dir.read("logfile"));
    for (std::string line; std::getline(lines, line);)
        log.insert(line.substr(std::min<std::size_t>(19, line.size())));
    EXPECT_EQ(log, expected_log);
}
