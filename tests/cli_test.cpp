// The whole program as a user runs it: console, files and exit status of
// every route through a run.
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <sstream>

#include "driver.h"
#include "support.h"

namespace {

const std::string kBanner = std::string(Version) + "\n";

// Rows whose scores are exact in binary: the mean row, a row one deviation
// above the mean everywhere, and a blank line.
const char* const kData = "1 2 3\n3 2.5 4.5\n\n";
const char* const kScores = "0 0 0\n-0.125 1.75 1.5\n0.75 -5.125 -5.5\n";

struct Project {
    ScratchDir dir;
    Project()
    {
        dir.write("c.fsc", kThreeVariableFsc);
        dir.write("a.dat", kData);
    }
    RunResult run(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) const
    {
        return run_scorix(dir, args, env);
    }
};

std::string help_screen()
{
    std::string text = "\nUsage: scorix -i -s # -f <file.fsc> file1 [file2 ...]\noptions:\n";
    return text;
}

}  // namespace

TEST(Cli, ForwardRunPrintsItsStepsAndWritesScores)
{
    Project p;
    RunResult run = p.run({"-f", "c.fsc", "a.dat"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, kBanner + "Extension: .sco\nColumns:   3\nScores:    3\nFile:      a.dat\nRows:      3\n");
    EXPECT_EQ(p.dir.read("a.sco"), kScores);
}

TEST(Cli, QuietRunPrintsOneLine)
{
    Project p;
    p.dir.write("b.dat", "1 2 3\n");
    RunResult run = p.run({"-q", "-s", "1", "-f", "c.fsc", "a.dat", "b.dat"});
    EXPECT_EQ(run.out, "Scorix: ext:.sco cols:3 scores:1 rows:3 file:a.datrows:1 file:b.dat\n");
    EXPECT_EQ(p.dir.read("a.sco"), "0\n-0.125\n0.75\n");
}

TEST(Cli, DebugTracesEachStep)
{
    Project p;
    RunResult run = p.run({"--debug", "-f", "c.fsc", "a.dat"});
    EXPECT_EQ(run.out, kBanner +
                           "Extension: .sco\nColumns:   3\nScores:    3\nFile:      a.dat\nscanning file\nRows:      3\n"
                           "reading file\nstandardize()\nscorix()\nwritefile()\n");
}

TEST(Cli, InverseRunRestoresTheData)
{
    Project p;
    ASSERT_EQ(p.run({"-a", "-f", "c.fsc", "a.dat"}).status, 0);
    RunResult run = p.run({"-i", "-a", "--debug", "-f", "c.fsc", "a.sco"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Extension: .tad\n"), std::string::npos);
    EXPECT_NE(run.out.find("matinv()\nfsc matrix after inverse:\n"), std::string::npos);
    EXPECT_NE(run.out.find("File:      a.sco\nscanning file\nRows:      3\nreading file\nscorix()\nunstandardize()\n"),
              std::string::npos);
    std::string restored = p.dir.read("a.tad");
    EXPECT_EQ(restored.substr(0, 16), "1 2 3\n3 2.5 4.5\n");
    double blank[3];
    ASSERT_EQ(std::sscanf(restored.c_str() + 16, "%lg %lg %lg", &blank[0], &blank[1], &blank[2]), 3);
    for (double value : blank)
        EXPECT_LT(std::fabs(value), 1e-13) << "the blank line comes back as zeros";
}

TEST(Cli, ExampleComesBackFromAllItsScores)
{
    Project p;
    std::filesystem::copy_file(SCORIX_EXAMPLES "/iris.fsc", p.dir.path() / "iris.fsc");
    std::filesystem::copy_file(SCORIX_EXAMPLES "/iris.dat", p.dir.path() / "iris.dat");
    ASSERT_EQ(p.run({"-q", "-a", "-f", "iris.fsc", "iris.dat"}).status, 0);
    ASSERT_EQ(p.run({"-q", "-i", "-a", "-f", "iris.fsc", "iris.sco"}).status, 0);
    std::istringstream original(p.dir.read("iris.dat"));
    std::istringstream restored(p.dir.read("iris.tad"));
    std::string line;
    std::getline(original, line);  // the column names
    double want;
    double got;
    int values = 0;
    for (; restored >> got; ++values) {
        if (values % 4 == 0 && values > 0)
            original >> line;  // the species after each flower's four values
        ASSERT_TRUE(original >> want);
        // The scores carry seven digits; the inverse loses at most one more.
        EXPECT_NEAR(got, want, 5e-6 * std::fabs(want)) << "value " << values;
    }
    EXPECT_EQ(values, 600);
}

TEST(Cli, ExtensionRules)
{
    const std::tuple<std::vector<std::string>, const char*> cases[] = {
        {{"-i"}, ".tad"},          {{"-i", "-e", ".sco"}, ".tad"}, {{"-i", "-e", "sco"}, ".tad"},
        {{"-I", "-E", "dat"}, ".dat"}, {{"-e", "sco"}, ".sco"},    {{"--extension=out"}, ".out"},
        {{"-e", ""}, "."},
    };
    for (const auto& [options, ext] : cases) {
        Project p;
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-q", "-f", "c.fsc"});
        EXPECT_EQ(p.run(args).out, std::string("Scorix: ext:") + ext + " cols:3 scores:3 \n") << options[0];
    }
}

TEST(Cli, ScoreCountRules)
{
    const std::tuple<std::vector<std::string>, int> cases[] = {
        {{"-s", "0"}, 3}, {{"-s", "-4"}, 3}, {{"-s", "abc"}, 3},   {{"-S", "2x"}, 2},
        {{"--scores=7"}, 3}, {{"-a", "-s", "2"}, 2}, {{"-s", "2", "-A"}, 3}, {{"--all"}, 3},
        {{"-s", "1"}, 1},
    };
    for (const auto& [options, scores] : cases) {
        Project p;
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-Q", "-f", "c.fsc"});
        EXPECT_EQ(p.run(args).out, "Scorix: ext:.sco cols:3 scores:" + std::to_string(scores) + " \n") << options[0];
    }
}

TEST(Cli, OperandsMayComeBeforeOptionsUnlessPosixlyCorrect)
{
    Project p;
    EXPECT_EQ(p.run({"a.dat", "-q", "-f", "c.fsc"}).status, 0);
    EXPECT_EQ(p.dir.read("a.sco"), kScores);
    std::filesystem::remove(p.dir.path() / "a.sco");
    RunResult posix = p.run({"--more", "a.dat", "-f", "c.fsc"}, {"POSIXLY_CORRECT=1"});
    EXPECT_NE(posix.out.find("Usage: scorix"), std::string::npos) << "-f is an operand there";
    EXPECT_FALSE(p.dir.exists("a.sco"));
    p.dir.write("-x.dat", "1 2 3\n");
    EXPECT_EQ(p.run({"-q", "-f", "c.fsc", "--", "-x.dat"}).status, 0);
    EXPECT_TRUE(p.dir.exists("-x.sco"));
}

TEST(Cli, HelpIsPrintedDirectlyWithMore)
{
    Project p;
    for (const char* help : {"-h", "-H", "-?", "--help", "--he"}) {
        RunResult run = p.run({"--more", help, "-f", "c.fsc"});
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_EQ(run.out.rfind(help_screen(), 0), 0u) << help;
        EXPECT_NE(run.out.find("  -s, --scores=#            How many scores we get (default 3).\n\nTakes a data"),
                  std::string::npos);
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 27);
    }
    EXPECT_FALSE(p.dir.exists("logfile"));
}

TEST(Cli, HelpIsPagedOtherwise)
{
    Project p;
    RunResult run = p.run({"-h"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind(help_screen(), 0), 0u);
    RunResult late_more = p.run({"-?", "--more"});
    EXPECT_EQ(late_more.status, 1) << "options after the help are not looked at";
}

TEST(Cli, PagerRunsTheSameProgramThroughAnAwkwardPath)
{
    Project p;
    std::filesystem::path odd = p.dir.path() / "it's a \"$(touch pwned)\" `x`;&|*?\\\n<dir>";
    std::filesystem::create_directory(odd);
    std::filesystem::copy_file(SCORIX_BINARY, odd / "scorix");
    RunResult run = run_scorix(p.dir, {"-h"}, {}, (odd / "scorix").string());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out.rfind(help_screen(), 0), 0u);
    EXPECT_FALSE(p.dir.exists("pwned"));
}

TEST(Cli, RejectedOptionsAndMissingCoefficientsShowTheHelp)
{
    Project p;
    RunResult rejected = p.run({"--more", "-n", "-f", "c.fsc"});
    EXPECT_EQ(rejected.status, 0);
    EXPECT_EQ(rejected.err, std::string(SCORIX_BINARY) + ": invalid option -- 'n'\n");
    EXPECT_EQ(rejected.out.rfind(help_screen(), 0), 0u);

    RunResult missing_argument = p.run({"--more", "-f"});
    EXPECT_NE(missing_argument.err.find("requires an argument"), std::string::npos);

    RunResult no_fsc = p.run({"--more", "a.dat"});
    EXPECT_EQ(no_fsc.status, 0);
    EXPECT_EQ(no_fsc.out.rfind(kBanner + "Extension: .sco\n" + help_screen(), 0), 0u);
    EXPECT_EQ(p.run({"a.dat"}).status, 1);
    EXPECT_FALSE(p.dir.exists("logfile"));
}

TEST(Cli, NoMeanInputKeepsTheMeansInTheData)
{
    Project p;
    EXPECT_EQ(p.run({"-q", "--no-mean-input", "-s", "1", "-f", "c.fsc", "a.dat"}).status, 0);
    EXPECT_EQ(p.dir.read("a.sco"), "-0.75\n-0.875\n0\n");
}

TEST(Cli, ScoreListIsScreenedAndApplied)
{
    Project p;
    RunResult run = p.run({"-b", "3, 1", "-f", "c.fsc", "a.dat"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("3, 1, \nColumns:   3\n"), std::string::npos);
    RunResult bad = p.run({"-b", "1;2", "-f", "c.fsc", "a.dat"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "");
    EXPECT_NE(bad.out.find("\"1;2\""), std::string::npos);
    EXPECT_EQ(bad.out.find("Scorix Version"), std::string::npos) << "screening happens while parsing";
    EXPECT_EQ(p.run({"-b", "1\t2", "-f", "c.fsc"}).status, 1);
}

TEST(Cli, NoOperandsStillLoadsLogsAndInverts)
{
    Project p;
    RunResult run = p.run({"-q", "-i", "--debug", "-f", "c.fsc"});
    EXPECT_EQ(run.status, 0);
    const std::string head = "Scorix: ext:.tad cols:3 scores:3 matinv()\nfsc matrix after inverse:\n";
    ASSERT_EQ(run.out.substr(0, head.size()), head);
    std::istringstream dump(run.out.substr(head.size()));
    std::string line;
    for (int row = 0; row < 3; ++row) {
        ASSERT_TRUE(std::getline(dump, line));
        EXPECT_EQ(line.size(), 3 * 13u) << "three \" % .5e\" values: " << line;
    }
    EXPECT_TRUE(std::getline(dump, line));
    EXPECT_EQ(line, "") << "the quiet line ends after the dump";
    EXPECT_TRUE(p.dir.exists("logfile"));
}

TEST(Cli, MissingMeanIsReportedEvenWhenQuiet)
{
    Project p;
    p.dir.write("n.fsc", "[STD]\n1 1\n[FSC_SORTED]\n1 0\n0 1\n");
    p.dir.write("b.dat", "3 4\n");
    RunResult run = p.run({"-q", "-f", "n.fsc", "b.dat"});
    EXPECT_EQ(run.out, "Scorix: ext:.sco No mean available for this data!\ncols:2 scores:2 rows:1 file:b.dat\n");
    EXPECT_EQ(p.dir.read("b.sco"), "3 4\n");
}

TEST(Cli, CoefficientProblemsStopBeforeAnyDataFile)
{
    Project p;
    p.dir.write("nostd.fsc", "[FSC_SORTED]\n1\n");
    RunResult missing = p.run({"-f", "nostd.fsc", "a.dat"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Error src/scorix 217: no [STD] or [FSC_SORTED] in nostd.fsc\n");
    EXPECT_EQ(missing.out.find("File:"), std::string::npos);
    EXPECT_NE(missing.out.find("Scores:    1\n"), std::string::npos);

    p.dir.write("short.fsc", "[STD]\n1 2 3\n[MEAN]\n1 2 3 4\n[FSC_SORTED]\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n");
    EXPECT_EQ(p.run({"-f", "short.fsc"}).err,
              "Error src/scorix 218:\nnumber of fsc (4) and\nnumber of std (3) is missmatched\n");
    p.dir.write("shortmean.fsc", "[MEAN]\n1 2 3\n[FSC_SORTED]\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0 1\n[STD]\n1 1 1 1\n");
    EXPECT_EQ(p.run({"-f", "shortmean.fsc"}).err,
              "Error src/scorix 219:\nnumber of fsc (4) and\nnumber of mean (3) is missmatched\n");

    p.dir.write("emptymatrix.fsc", "[FSC_SORTED]\n\n[STD]\n1 2\n");
    EXPECT_EQ(p.run({"-f", "emptymatrix.fsc", "a.dat"}).err,
              "Error src/scorix 220:\nnumber of std (2) and\nnumber of fsc (0) is missmatched\n");
    p.dir.write("singular.fsc", "[STD]\n1 1\n[FSC_SORTED]\n1 2\n2 4\n");
    RunResult singular = p.run({"-i", "-f", "singular.fsc", "a.dat"});
    EXPECT_EQ(singular.status, 1);
    EXPECT_EQ(singular.err, "Error src/scorix 232: [FSC_SORTED] in singular.fsc is singular, no inverse\n");
    EXPECT_FALSE(p.dir.exists("a.tad"));
    EXPECT_EQ(p.run({"-f", "absent.fsc"}).err, "Error: opening absent.fsc\n");
}

TEST(Cli, AFailingFileEndsTheRunKeepingEarlierOutputs)
{
    Project p;
    RunResult run = p.run({"-q", "-f", "c.fsc", "a.dat", "missing.dat", "a.dat"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "Scorix: ext:.sco cols:3 scores:3 rows:3 file:a.dat");
    EXPECT_EQ(run.err, "Error src/scorix 646:opening missing.dat\n");
    EXPECT_EQ(p.dir.read("a.sco"), kScores);
}

TEST(Cli, OutputFailuresLeaveNoIncompleteFile)
{
    Project p;
    std::filesystem::create_directory(p.dir.path() / "d.sco");
    p.dir.write("d.dat", "1 2 3\n");
    EXPECT_EQ(p.run({"-q", "-f", "c.fsc", "d.dat"}).err, "Error src/scorix 761:opening d.sco\n");

    std::string big;
    for (int i = 0; i < 20000; ++i)
        big += "1 2 3\n";
    p.dir.write("full.dat", big);
    std::filesystem::create_symlink("/dev/full", p.dir.path() / "full.sco");
    RunResult full = p.run({"-q", "-f", "c.fsc", "full.dat"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err, "Error src/scorix 762:writing full.sco\n");
    EXPECT_FALSE(std::filesystem::is_symlink(p.dir.path() / "full.sco"));
}

TEST(Cli, AnInputWithTheOutputExtensionIsOverwrittenByItsOutput)
{
    // 60000 rows: more than one block, which come out in order, and the
    // input must be read to its end before its contents give way; the
    // symlinked one is written through its link.
    Project p;
    std::string data, scores;
    for (int i = 0; i < 20000; ++i) {
        data += kData;
        scores += kScores;
    }
    p.dir.write("x.sco", data);
    p.dir.write("big.dat", data);
    p.dir.write("target.dat", kData);
    std::filesystem::create_symlink("target.dat", p.dir.path() / "link.sco");
    EXPECT_EQ(p.run({"-q", "-f", "c.fsc", "x.sco", "big.dat", "link.sco"}).status, 0);
    EXPECT_EQ(p.dir.read("x.sco"), scores);
    EXPECT_EQ(p.dir.read("big.sco"), scores);
    EXPECT_EQ(p.dir.read("target.dat"), kScores);
    EXPECT_TRUE(std::filesystem::is_symlink(p.dir.path() / "link.sco"));
}

TEST(Cli, TooManyNumbersOnALineStopsBeforeTheRowCount)
{
    Project p;
    p.dir.write("wide.dat", "1 2 3\n1 2 3 4\n");
    RunResult run = p.run({"-f", "c.fsc", "wide.dat"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Error src/scorix 655:\nnumber of variables in std (3)\nand in wide.dat (4) mismatch.\n");
    EXPECT_EQ(run.out.find("Rows:"), std::string::npos);
    EXPECT_FALSE(p.dir.exists("wide.sco"));
}
