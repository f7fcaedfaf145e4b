#include "support.h"

#include <sys/wait.h>

#include <cstdlib>

namespace fs = std::filesystem;

const char* const kThreeVariableFsc = "# coefficients for three variables\n"
                                      "[STD]\n2 0.5 1.5\n"
                                      "[MEAN]\n1 2 3\n"
                                      "[FSC_SORTED]\n0.5 0.25 -1\n0.125 1 0.5\n-0.75 0.5 2\n";

RunResult run_scorix(const ScratchDir& dir, const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& program)
{
    auto quoted = [](std::string text) {
        for (std::size_t at = 0; (at = text.find('\'', at)) != std::string::npos; at += 4)
            text.replace(at, 1, "'\\''");
        return "'" + text + "' ";
    };
    std::string command = "cd " + quoted(dir.path()) + "&& exec env ";
    for (const std::string& entry : env)
        command += quoted(entry);
    command += quoted(program);
    for (const std::string& arg : args)
        command += quoted(arg);
    int status = std::system((command + "</dev/null >.stdout 2>.stderr").c_str());
    RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), dir.read(".stdout"),
                     dir.read(".stderr")};
    fs::remove(dir.path() / ".stdout");
    fs::remove(dir.path() / ".stderr");
    return result;
}

void replay_corpus(const char* name, OneInput one_input)
{
    int inputs = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(SCORIX_CORPUS) / name)) {
        try {
            feed(one_input, read_file(entry.path()));
        } catch (const std::exception& failure) {
            ADD_FAILURE() << entry.path().string() << ": " << failure.what();
        }
        ++inputs;
    }
    EXPECT_GT(inputs, 0) << "no corpus for " << name;
}
