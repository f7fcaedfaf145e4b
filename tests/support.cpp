#include "support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

const char* const kThreeVariableFsc =
    "# coefficients for three variables\n"
    "[STD]\n2 0.5 1.5\n"
    "[MEAN]\n1 2 3\n"
    "[FSC_SORTED]\n0.5 0.25 -1\n0.125 1 0.5\n-0.75 0.5 2\n";

RunResult run_scorix(const ScratchDir& dir, const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& program)
{
    pid_t child = fork();
    if (child == 0) {
        int in = open("/dev/null", O_RDONLY);
        int out = open(dir.file(".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(dir.file(".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (chdir(dir.path().c_str()) != 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        for (const std::string& entry : env)
            putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> argv = {const_cast<char*>(program.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    RunResult result{WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), dir.read(".stdout"),
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
