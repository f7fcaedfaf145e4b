// The invocation log: how arguments are quoted (their order is checked end
// to end in driver_test.cpp).
#include "support.h"
#include "write/invocation_log.h"

TEST(InvocationLog, QuotesArgumentsWithBlanksCommasOrAsterisks)
{
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"scorix", "-f", "c.fsc", "a.dat"}, "scorix -f c.fsc a.dat"},
        {{"s", "-b", "1,2"}, "s -b \"1,2\""},
        {{"s", "--include-scores=1, 2"}, "s --include-scores=\"1, 2\""},
        {{"s", "-b=1,2"}, "s \"-b=1,2\""},
        {{"s", "my file.dat", "*.dat"}, "s \"my file.dat\" \"*.dat\""},
        {{"s", "--extension=x"}, "s --extension=x"},
        {{"s", "a\"b"}, "s a\"b"},
        // One line whatever the names: control characters escaped, shell-style.
        {{"s", "a\nb\t\x1b\\", "$'x", "c d\r"}, "s $'a\\nb\\t\\x1b\\\\' $'$\\'x' $'c d\\r'"},
    };
    for (auto [args, expected] : cases) {
        std::vector<char*> argv;
        for (std::string& arg : args)
            argv.push_back(arg.data());
        EXPECT_EQ(log_line("2026-12-06 10:00:00", static_cast<int>(argv.size()), argv.data()),
                  std::string("2026-12-06 10:00:00 ") + expected + "\n");
    }
}
