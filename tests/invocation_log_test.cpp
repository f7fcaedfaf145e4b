// The invocation log: how arguments are quoted, and that concurrent runs
// append whole lines.
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "invocation_log.h"
#include "support.h"

TEST(InvocationLog, QuotesArgumentsWithBlanksCommasOrAsterisks)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"scorix", "-f", "c.fsc", "a.dat"}, "scorix -f c.fsc a.dat"}, {{"s", "-b", "1,2"}, "s -b \"1,2\""},
        {{"s", "--include-scores=1, 2"}, "s --include-scores=\"1, 2\""}, {{"s", "-b=1,2"}, "s \"-b=1,2\""},
        {{"s", "my file.dat", "*.dat"}, "s \"my file.dat\" \"*.dat\""}, {{"s", "--extension=x"}, "s --extension=x"},
        {{"s", "a\"b"}, "s a\"b"},
    };
    for (auto [args, expected] : cases) {
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        EXPECT_EQ(log_line("2026-12-06 10:00:00", static_cast<int>(argv.size()), argv.data()),
                  std::string("2026-12-06 10:00:00 ") + expected + "\n");
    }
}

TEST(InvocationLog, LogsOptionsBeforeOperandsAndRunsOnWithoutALog)
{
    ScratchDir dir;
    dir.write("c.fsc", kThreeVariableFsc);
    dir.write("a.dat", "1 2 3\n");
    ASSERT_EQ(run_scorix(dir, {"a.dat", "-q", "-f", "c.fsc"}).status, 0);
    EXPECT_EQ(dir.read("logfile").substr(19), std::string(" ") + SCORIX_BINARY + " -q -f c.fsc a.dat\n");

    std::filesystem::remove(dir.path() / "logfile");
    std::filesystem::create_directory(dir.path() / "logfile");
    RunResult run = run_scorix(dir, {"-q", "-f", "c.fsc"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "No logfile entry\n");
}

TEST(InvocationLog, ConcurrentRunsAppendWholeLines)
{
    ScratchDir dir;
    const int runs = 16, lines_each = 50;
    std::string long_argument(3000, 'x');
    std::vector<pid_t> children;
    for (int i = 0; i < runs; ++i) {
        pid_t child = fork();
        if (child == 0) {
            if (chdir(dir.path().c_str()) != 0)
                _exit(1);
            std::string id = "run" + std::to_string(i);
            char* argv[] = {id.data(), long_argument.data(), nullptr};
            for (int n = 0; n < lines_each; ++n)
                logfile(2, argv);
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children)
        waitpid(child, nullptr, 0);
    std::istringstream log(dir.read("logfile"));
    int count = 0;
    for (std::string line; std::getline(log, line); ++count) {
        std::string id = line.substr(20, line.find(' ', 20) - 20);
        ASSERT_EQ(id.rfind("run", 0), 0u) << line.substr(0, 40);
        ASSERT_EQ(line.size(), 20 + id.size() + 1 + long_argument.size()) << line.substr(0, 40);
    }
    EXPECT_EQ(count, runs * lines_each);
}
