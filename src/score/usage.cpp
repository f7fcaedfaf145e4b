#include "score/usage.h"

#include <cstdlib>
#include <cstring>

#include "common/console.h"

namespace {

constexpr const char* kHelpLines[] = {
    "options:",
    "  -a, --all                 Get as many scores in output as nr. of variables.",
    "                            (Applies to normal scorix).",
    "  -f, --fsc-file=file.fsc   File with factor score coefficients from corr.",
    "  -i, --inverse             Reverses the action.",
    "  -e, --extension=ext       New extension for score files.",
    "                            Default .sco  or .tad for inverse.",
    "  -b, --include-scores=\"1,2,5-6\"",
    "                            Include only supplied scores and",
    "                            zero remaining scores (applies to inverse scorix).",
    "  -m, --no-mean-output      Don't add mean to output (inverse).",
    "  -n, --no-mean-input       Don't subtract mean from input (forward).",
    "  -g, --global              Use the smallest std.dev. for normalization",
    "  -q, --quiet,--silence     Make the program quiet",
    "  -h, --help                Shows this help.",
    "      --progress            Always show the progress line on stderr.",
    "      --no-progress         Never show it (default: on a terminal).",
    "  -s, --scores=#            How many scores we get (default 3).",
    "",
    "Takes a data file and a file with",
    "factor score coefficients and",
    "produces eigenvalues.",
    "With option -i this process is reversed.",
    "The program takes a file with eigenvalues",
    "and a file with factor score coefficients and",
    "produces a data file.",
};

constexpr const char* kNotice = "Scorix is free to use; report problems to the Scorix developers.";

[[noreturn]] void print_directly(const char* program_path)
{
    const char* slash = std::strrchr(program_path, '/');
    const char* name = slash ? slash + 1 : program_path;
    message("\nUsage: %s -i -s # -f <file.fsc> file1 [file2 ...]\n", name);
    for (const char* line : kHelpLines)
        message("%s\n", line);
    message("%s\n", kNotice);
    std::exit(0);
}

// The shell command that pages the help: the program path quoted for the
// shell, then " --more -? | more".
std::string pager_command(const std::string& program_path)
{
    std::string command = "'";
    for (char c : program_path) {
        if (c == '\'')
            command += "'\\''";
        else
            command += c;
    }
    command += "' --more -? | more";
    return command;
}

}  // namespace

void usage(const RunOptions& options, const char* program_path)
{
    if (options.more)
        print_directly(program_path);
    std::fflush(stdout);
    [[maybe_unused]] int ignored = std::system(pager_command(program_path).c_str());
    std::exit(1);
}
