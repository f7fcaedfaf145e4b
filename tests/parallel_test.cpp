// Threads change who reads, converts and prints which rows, never the output.
#include "common/parallel.h"
#include "support.h"

// Megabytes of odd lines and text rows, plain and gzipped, as on one thread.
TEST(Parallel, AnyThreadCountGivesTheSameConsoleAndOutput)
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
                << threads << " " << compress << "\n"
                << run.err;
        }
    }
}

// Lines long enough that blocks end at their size, not their rows, so that a
// compressed file's blocks take its decompressed bytes without copying them;
// between them comment lines longer than the room kept in front of those
// bytes, and a stretch of short lines where blocks end at their rows. The
// compressed file reads as the plain one: rows, line numbers, failures.
TEST(Parallel, ACompressedFileReadsAsThePlainOne)
{
    ScratchDir dir;
    dir.write("c.fsc", kThreeVariableFsc);
    std::string text;
    for (int i = 0; text.size() < 8'000'000; ++i) {
        text += std::to_string(i % 89) + " -1 2" + std::string(i * 37 % 500, ' ') + "\n";
        if (i % 9000 == 4500)
            text += "# " + std::string(70'000 + i % 4096, 'c') + "\n";
        if (i == 15000)
            text += repeat("1\n", 100'000);
    }
    const std::size_t late = text.rfind('\n', text.size() - 3'000'000) + 1;
    const std::string files[] = {text, text.substr(0, late) + "1 2 x\n" + text.substr(late),
                                 text.substr(0, late) + "1 2 3 4\n" + text.substr(late)};
    std::string gz;  // the first file's
    for (const std::string& file : files) {
        dir.write("a.dat", file);
        const RunResult plain = run_scorix(dir, {"-q", "-f", "c.fsc", "a.dat"}, {"SCORIX_THREADS=1"});
        const std::string output = dir.exists("a.sco") ? dir.read("a.sco") : "none";
        std::filesystem::remove(dir.file("a.sco"));
        ASSERT_EQ(run_scorix(dir, {"-c", "gzip -1 a.dat && mv a.dat.gz a.dat"}, {}, "/bin/sh").status, 0);
        gz = gz.empty() ? dir.read("a.dat") : gz;
        for (const char* threads : {"SCORIX_THREADS=2", "SCORIX_THREADS=3"}) {
            const RunResult run = run_scorix(dir, {"-q", "-f", "c.fsc", "a.dat"}, {threads});
            EXPECT_EQ(std::tuple(run.status, run.out, run.err), std::tuple(plain.status, plain.out, plain.err))
                << threads;
            // Not EXPECT_EQ: gtest would print the difference of megabytes.
            EXPECT_TRUE((dir.exists("a.sco") ? dir.read("a.sco") : "none") == output) << threads;
            std::filesystem::remove(dir.file("a.sco"));
        }
    }
    // Cut short in its last megabyte: damaged, and nothing written.
    dir.write("a.dat", gz.substr(0, gz.size() - 1000));
    const RunResult cut = run_scorix(dir, {"-q", "-f", "c.fsc", "a.dat"}, {"SCORIX_THREADS=2"});
    EXPECT_EQ(std::tuple(cut.status, cut.err, dir.exists("a.sco")),
              std::tuple(1, std::string("Error src/scorix 647:reading a.dat\n"), false));
}

// Offenders in several blocks: the first in file order is reported, no
// output; text rows are told by their line, comment lines counted.
TEST(Parallel, TheFirstFailureInFileOrderStopsTheRun)
{
    auto rows = [](std::vector<std::pair<int, std::string>> changed) {
        std::string text(3'000'000, '\n');
        for (auto change = changed.rbegin(); change != changed.rend(); ++change)
            text.replace(change->first, 1, change->second);
        return text;
    };
    const std::pair<std::string, std::string> cases[] = {
        {rows({{1e6, "1 2 3 4 5 6\n"}, {2.5e6, "1 2 3 4\n"}}),
         "Error src/scorix 655:\nnumber of variables in std (3)\nand in a.dat (6) mismatch.\n"},
        {rows({{7, "# c\n\n"}, {2e6 + 1, "1 x\n"}, {2.9e6, "y\n"}}),
         "scorix: warning: a.dat: 2 rows hold text where numbers were expected (first at line 2000003: \"1 x\"); "
         "their missing values were read as 0\n"},
    };
    for (const auto& [text, error] : cases) {
        ScratchDir dir;
        dir.write("c.fsc", kThreeVariableFsc);
        dir.write("a.dat", text);
        const RunResult run = run_scorix(dir, {"-q", "-f", "c.fsc", "a.dat"});
        const bool fails = error.starts_with("Error");
        EXPECT_EQ(run.err, error);
        EXPECT_EQ(run.out, "Scorix: ext:.sco cols:3 scores:3 " + std::string(fails ? "" : "rows:3000000 file:a.dat\n"));
        EXPECT_EQ(dir.exists("a.sco"), !fails);
    }
}

// Many threads over wide rows, where four full blocks hold fewer rows than
// there are blocks in flight: every block still holds a row, the rows in
// flight stay those of about five full blocks, and every row is written.
TEST(Parallel, EveryBlockHoldsARowWhateverTheThreadsAndWidth)
{
    for (int threads : {1, 2, 3, 8, 64})
        for (int full : {0, 1, 2, 3, 16, 64, 43690}) {
            const auto [count, each] = plan_blocks(threads, full);
            EXPECT_TRUE(count >= 1 && count <= (threads == 1 ? 1 : threads + 2) && each >= std::min(full, 1) &&
                        each <= full && (count - 1LL) * each <= 4LL * full)
                << threads << " threads, " << full << " rows a block: " << count << " x " << each;
        }
    // 2017 variables, 64 rows a full block; 999 threads asked for, 64 taken.
    ScratchDir dir;
    const std::string ones = repeat("1 ", 2017) + "\n";
    dir.write("w.fsc", "[STD]\n" + ones + "[MEAN]\n" + repeat("0 ", 2017) + "\n[FSC_SORTED]\n" + repeat(ones, 2017));
    dir.write("w.dat", repeat("1" + std::string(64, ' ') + "\n", 16385));
    const RunResult run = run_scorix(dir, {"-q", "-f", "w.fsc", "w.dat"}, {"SCORIX_THREADS=999"});
    EXPECT_TRUE(run.status == 0 && run.out == "Scorix: ext:.sco cols:2017 scores:3 rows:16385 file:w.dat\n" &&
                dir.read("w.sco") == repeat("1 1 1\n", 16385))
        << run.err;
}
