// Threads change who reads, converts and prints which rows, never the bytes
// written or the failure reported.
#include <map>

#include "coefficient_file.h"
#include "driver.h"
#include "support.h"

namespace {

std::string rows_of(int count, const std::map<int, std::string>& changed = {})
{
    std::string text;
    for (int r = 0; r < count; ++r)
        text += changed.count(r) ? changed.at(r) : "1 2 3\n";
    return text;
}

}  // namespace

// Several megabytes of odd lines: several count parts and read blocks, with
// the first text row in a later part behind comment lines.
TEST(Threads, AnyThreadCountGivesTheSameConsoleAndOutput)
{
    ScratchDir dir;
    dir.write("c.fsc", kThreeVariableFsc);
    const std::string kinds[] = {"\n.5 -2 3e", "\n# ", "\n", "\n+4 -inf 0x1p", "\n  -0\t1e-310\r", "\n; "};
    std::string text, first_text_line;
    for (int i = 0; text.size() < 3'500'000; ++i) {
        text += kinds[i * 7 % 6] + std::to_string(i % 997);
        if (i == 200'000 || i == 300'000)
            text.append("\n").append(std::to_string(i)).append(" words");
        if (i == 200'000)
            first_text_line = std::to_string(std::count(text.begin(), text.end(), '\n') + 1);
    }
    dir.write("a.dat", text);
    const RunResult one = run_scorix(dir, {"-f", "c.fsc", "a.dat"}, {"SCORIX_THREADS=1"});
    const std::string output = dir.read("a.sco");
    EXPECT_NE(one.err.find("2 rows hold text where numbers were expected (first at line " + first_text_line +
                           ": \"200000 words\")"),
              std::string::npos) << one.err;
    for (const char* threads : {"SCORIX_THREADS=2", "SCORIX_THREADS=3", "SCORIX_THREADS=4"}) {
        const RunResult run = run_scorix(dir, {"-f", "c.fsc", "a.dat"}, {threads});
        EXPECT_EQ(run.out + run.err, one.out + one.err) << threads;
        EXPECT_TRUE(run.status == 0 && dir.read("a.sco") == output) << threads;
    }
}

// Offenders in several parts of the count pass or several blocks of the
// read pass (the file changed between the passes): the first in file order
// is reported, and no output is left.
TEST(Threads, TheFirstFailureInFileOrderStopsTheRun)
{
    const int kRows = 600'000;
    const std::string mismatch = ":\nnumber of variables in std (3)\nand in ";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {rows_of(kRows, {{150'000, "1 2 3 4 5 6\n"}, {450'000, "1 2 3 4\n"}}), "", "655" + mismatch + "@ (6) mismatch.\n"},
        {rows_of(kRows), rows_of(kRows, {{300'000, "1 2 3 4 5\n"}, {500'000, "1 2 3 4\n"}}), "691" + mismatch + "@ (5) mismatch.\n"},
        {rows_of(kRows), rows_of(400'000), "692:@ changed while it was read (400000 of 600000 rows)\n"},
        {rows_of(kRows), rows_of(400'000, {{399'999, "0 0 0 0\n"}}), "691" + mismatch + "@ (4) mismatch.\n"},
    };
    for (const auto& [counted, read, error] : cases) {
        ScratchDir dir;
        dir.write("c.fsc", kThreeVariableFsc);
        dir.write("a.dat", counted);
        const std::string path = dir.file("a.dat");
        RunState state;
        state.quiet = 1;
        testing::internal::CaptureStdout();
        readfsc(state, dir.file("c.fsc").c_str());
        const std::string text = fatal_text([&] {
            DataReader input = readfile(state, path.c_str());
            dir.write("a.dat", read);
            transform_file(state, input, path.c_str());
        });
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(text, "Error src/scorix " + error.substr(0, error.find('@')) + path + error.substr(error.find('@') + 1));
        EXPECT_FALSE(dir.exists("a.sco"));
    }
}
