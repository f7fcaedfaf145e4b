// Threads change who reads, converts and prints which rows, never the output.
#include "coefficient_file.h"
#include "driver.h"
#include "parallel.h"
#include "support.h"

// Megabytes of odd lines and text rows, plain and gzipped, as on one thread.
TEST(Threads, AnyThreadCountGivesTheSameConsoleAndOutput)
{
    ScratchDir dir;
    dir.write("c.fsc", kThreeVariableFsc);
    const std::string kinds[] = {"\n.5 -2 3e", "\n# ", "\n", "\n+4 -inf 0x1p", "\n  -0\t1e-310\r", "\n; ", "\nword "};
    std::string text;
    for (int i = 0; text.size() < 3'500'000; ++i)
        text += kinds[i == 200'000 || i == 300'000 ? 6 : i * 7 % 6] + std::to_string(i % 997);
    dir.write("a.dat", text);
    const RunResult one = run_scorix(dir, {"-f", "c.fsc", "a.dat"}, {"SCORIX_THREADS=1"});
    const std::string output = dir.read("a.sco");
    for (const char* compress : {"", "gzip a.dat && mv a.dat.gz a.dat"}) {
        ASSERT_EQ(run_scorix(dir, {"-c", compress}, {}, "/bin/sh").status, 0);
        for (const char* threads : {"SCORIX_THREADS=2", "SCORIX_THREADS=3", "SCORIX_THREADS=4"}) {
            const RunResult run = run_scorix(dir, {"-f", "c.fsc", "a.dat"}, {threads});
            EXPECT_TRUE(run.status == 0 && run.out + run.err == one.out + one.err && dir.read("a.sco") == output)
                << threads << " " << compress << "\n" << run.err;
        }
    }
}

// Offenders in several count parts or read blocks (the file changed between
// the passes): the first in file order is reported (@: the path), no output.
TEST(Threads, TheFirstFailureInFileOrderStopsTheRun)
{
    auto rows = [](int count, std::vector<std::pair<int, std::string>> changed = {}) {
        std::string text(count, '\n');
        for (const auto& [row, line] : changed)
            text.replace(row, 1, line);
        return text;
    };
    const std::string mismatch = ":\nnumber of variables in std (3)\nand in @ (";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {rows(3e6, {{1e6, "1 2 3 4 5 6\n"}, {2.5e6, "1 2 3 4\n"}}), "", "655" + mismatch + "6) mismatch.\n"},
        {rows(3e6), rows(3e6, {{1.5e6, "1 2 3 4 5\n"}, {2.5e6, "1 2 3 4\n"}}), "691" + mismatch + "5) mismatch.\n"},
        {rows(3e6), rows(2e6, {{2e6 - 1, "1 2 3 0\n"}}), "691" + mismatch + "4) mismatch.\n"},
        {rows(3e6), rows(2e6), "692:@ changed while it was read (2000000 of 3000000 rows)\n"},
    };
    for (const auto& [counted, read, error] : cases) {
        ScratchDir dir;
        dir.write("c.fsc", kThreeVariableFsc);
        dir.write("a.dat", counted);
        const std::string path = dir.file("a.dat");
        RunState state;
        testing::internal::CaptureStdout();
        readfsc(state, dir.file("c.fsc").c_str());
        const std::string text = fatal_text([&] {
            DataReader input = readfile(state, path.c_str());
            dir.write("a.dat", read);
            transform_file(state, input, path.c_str());
        });
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(text, "Error src/scorix " + std::string(error).replace(error.find('@'), 1, path));
        EXPECT_FALSE(dir.exists("a.sco"));
    }
}

// Many threads over wide rows, where four full blocks hold fewer rows than
// there are blocks in flight: every block still holds a row, the rows in
// flight stay those of about five full blocks, and every row is written.
TEST(Threads, EveryBlockHoldsARowWhateverTheThreadsAndWidth)
{
    for (int threads : {1, 2, 3, 8, 64})
        for (int full : {0, 1, 2, 3, 16, 64, 43690})
            for (long long rows : {0LL, 5LL, 16385LL, 1LL << 40}) {
                const auto [count, each] = plan_blocks(threads, full, rows);
                EXPECT_TRUE(count >= 1 && count <= (threads == 1 ? 1 : threads + 2) && each >= std::min(full, 1) &&
                            each <= full && (count - 1LL) * each <= 4LL * full)
                    << threads << " threads, " << full << " rows a block, " << rows << ": " << count << " x " << each;
            }
    // 2017 variables, 64 rows a full block; 999 threads asked for, 64 taken.
    ScratchDir dir;
    const std::string ones = repeat("1 ", 2017) + "\n";
    dir.write("w.fsc", "[STD]\n" + ones + "[MEAN]\n" + repeat("0 ", 2017) + "\n[FSC_SORTED]\n" + repeat(ones, 2017));
    dir.write("w.dat", repeat("1" + std::string(64, ' ') + "\n", 16385));
    const RunResult run = run_scorix(dir, {"-q", "-f", "w.fsc", "w.dat"}, {"SCORIX_THREADS=999"});
    EXPECT_TRUE(run.status == 0 && run.out == "Scorix: ext:.sco cols:2017 scores:3 rows:16385 file:w.dat\n" &&
                dir.read("w.sco") == repeat("1 1 1\n", 16385)) << run.err;
}
