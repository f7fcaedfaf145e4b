// Nothing lost: outputs appear whole or not at all (a file that shrinks
// between the passes: data_file_test.cpp; standard input: driver_test.cpp).
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <set>

#include "support.h"

namespace {

namespace fs = std::filesystem;

// Runs a shell script in `dir` with $S the program under test.
RunResult shell(const ScratchDir& dir, const std::string& script)
{
    return run_scorix(dir, {"-c", "S='" SCORIX_BINARY "'; " + script}, {}, "/bin/sh");
}

}  // namespace

TEST(AtomicFile, InterruptedOrFailedRunsLeaveEarlierFilesAsTheyWere)
{
    const std::string input = repeat("1 2 \n", 2000000);
    for (int signal : {SIGINT, SIGTERM, SIGHUP, -SIGHUP, 0}) {
        // -SIGHUP: sent to a run that ignores it (nohup), which goes on to its end.
        const bool ignored = signal < 0;
        signal = std::abs(signal);
        SCOPED_TRACE(signal ? strsignal(signal) + std::string(ignored ? ", ignored" : "") : "full disk");
        ScratchDir dir;
        dir.write("c.fsc", kThreeVariableFsc);
        // An earlier output, or the input that is its own output.
        dir.write("a.sco", signal ? "old\n" : input);
        dir.write("a.dat", signal ? input : "");
        // The program takes the shell's place, and so its process id; the
        // signal comes once it has logged its run and opened its output:
        // unnamed, or named as on a file system without unnamed files.
        const std::string kill_later =
            "(until [ -s logfile ] && ls -l /proc/$$/fd 2>/dev/null | grep -q -e '(deleted)' -e /.scorix.; "
            "do sleep 0.01; done; kill -" +
            std::to_string(signal) + " $$) & exec ";
        const std::string nohup = ignored ? "trap '' HUP; " : "";
        RunResult run = shell(dir, signal ? nohup + kill_later + "$S -q -f c.fsc a.dat >/dev/null"
                                          : "trap '' XFSZ; ulimit -f 20000; $S -q -a -f c.fsc a.sco >/dev/null");
        EXPECT_EQ(run.status, ignored ? 0 : signal ? -signal : 1) << "ended by a signal, or its exit status";
        EXPECT_EQ(run.err, signal ? "" : "Error src/scorix 762:writing a.sco\n");
        EXPECT_TRUE(dir.read("a.sco") == (ignored ? repeat("1.5 -1 -4\n", 2000000) : signal ? "old\n" : input));
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir.path()))
            names.insert(entry.path().filename().string());
        EXPECT_EQ(names, (std::set<std::string>{"a.dat", "a.sco", "c.fsc", "logfile"}));
    }
}

TEST(AtomicFile, ReplacedFilesKeepModeAndLinksTheirTargets)
{
    ScratchDir dir;
    dir.write("c.fsc", kThreeVariableFsc);
    dir.write("a.dat", "1 2 3\n");
    dir.write("b.dat", "1 2 3\n");
    dir.write("a.sco", "old\n");
    fs::permissions(dir.path() / "a.sco", fs::perms(0604));
    fs::create_symlink("t/b.out", dir.path() / "b.sco");
    fs::create_directory(dir.path() / "t");
    RunResult run = shell(dir, "umask 077; $S -q -f c.fsc a.dat b.dat c.dat; $S -q -f c.fsc b.dat");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(dir.read("a.sco"), "0 0 0\n");
    EXPECT_EQ(fs::status(dir.path() / "a.sco").permissions(), fs::perms(0604));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "b.sco"));
    EXPECT_EQ(dir.read("t/b.out"), "0 0 0\n");
    EXPECT_EQ(fs::status(dir.path() / "t/b.out").permissions(), fs::perms(0600));
}

TEST(AtomicFile, AnyNameTheFileSystemTakesWorks)
{
    ScratchDir dir;
    const std::string name(251, 'n');  // with ".dat", ".sco" or ".fsc": 255 bytes, the longest name
    dir.write("c.fsc", kThreeVariableFsc);
    dir.write(name + ".dat", "1 2 3\n");
    EXPECT_EQ(run_scorix(dir, {"-q", "-f", "c.fsc", name + ".dat"}).err, "");
    EXPECT_EQ(dir.read(name + ".sco"), "0 0 0\n");
    EXPECT_EQ(run_scorix(dir, {"-q", "-o", name + ".fsc", SCORIX_EXAMPLES "/iris.dat"}, {}, SCORIX_FIT_BINARY).err, "");
    EXPECT_TRUE(dir.exists(name + ".fsc"));
}
