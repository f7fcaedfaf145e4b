#include "support.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "console.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throw_fatal()
{
    throw FatalStop{};
}

const bool handler_installed = (set_fatal_handler(throw_fatal), true);

}  // namespace

const char* const kThreeVariableFsc =
    "# coefficients for three variables\n"
    "[STD]\n2 0.5 1.5\n"
    "[MEAN]\n1 2 3\n"
    "[FSC_SORTED]\n0.5 0.25 -1\n0.125 1 0.5\n-0.75 0.5 2\n";

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "scorix-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

// Tests take permissions away; give them back (not through links, which may
// point at device files) so that everything can be removed.
ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    auto options = fs::directory_options::skip_permission_denied;
    for (const auto& entry : fs::recursive_directory_iterator(path_, options, ignored))
        if (!entry.is_symlink())
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream(path_ / name, std::ios::binary | std::ios::trunc) << bytes;
}

std::string ScratchDir::read(const std::string& name) const
{
    std::ostringstream bytes;
    bytes << std::ifstream(path_ / name, std::ios::binary).rdbuf();
    return bytes.str();
}

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

std::string describe(double value)
{
    char text[80];
    std::snprintf(text, sizeof text, "%a (%.17g)", value, value);
    return text;
}
