#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console.h"

namespace {

[[noreturn]] void throw_fatal()
{
    throw FatalStop{};
}

const bool handler_installed = (set_fatal_handler(throw_fatal), true);

std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

const char* const kThreeVariableFsc =
    "# coefficients for three variables\n"
    "[STD]\n2 0.5 1.5\n"
    "[MEAN]\n1 2 3\n"
    "[FSC_SORTED]\n0.5 0.25 -1\n0.125 1 0.5\n-0.75 0.5 2\n";

ScratchDir::ScratchDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "scorix-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream out(path_ / name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string ScratchDir::read(const std::string& name) const
{
    return slurp(path_ / name);
}

RunResult run_scorix(const ScratchDir& dir, const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& program)
{
    std::string out_path = dir.file(".stdout");
    std::string err_path = dir.file(".stderr");
    pid_t child = fork();
    if (child == 0) {
        if (chdir(dir.path().c_str()) != 0)
            _exit(127);
        int in = open("/dev/null", O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        for (const std::string& entry : env)
            putenv(const_cast<char*>(entry.c_str()));
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    RunResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(out_path);
    result.err = slurp(err_path);
    std::filesystem::remove(out_path);
    std::filesystem::remove(err_path);
    return result;
}

std::string describe(double value)
{
    char text[80];
    std::snprintf(text, sizeof text, "%a (%.17g)", value, value);
    return text;
}
