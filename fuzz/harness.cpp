#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/console.h"

namespace fs = std::filesystem;

namespace {
const bool handler_installed = (set_fatal_handler([] { throw FatalStop{}; }), true);
}  // namespace

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "scorix-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        check_failed("mkdtemp");
    path_ = pattern;
}

ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& name, const std::string& bytes) const
{
    if (!(std::ofstream(path_ / name, std::ios::binary | std::ios::trunc) << bytes))
        check_failed("writing " + name);
}

std::string read_file(const std::filesystem::path& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

std::string describe(double value)
{
    char text[80];
    std::snprintf(text, sizeof text, "%a (%.17g)", value, value);
    return text;
}

void check_failed(const std::string& what)
{
#ifdef SCORIX_FUZZ
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
#endif
    throw std::logic_error("harness check failed: " + what);
}
