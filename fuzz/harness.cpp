#include "harness.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "console.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void throw_fatal()
{
    throw FatalStop{};
}

const bool handler_installed = (set_fatal_handler(throw_fatal), true);

}  // namespace

ScratchDir::ScratchDir()
{
    std::string pattern = (fs::temp_directory_path() / "scorix-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        check_failed("mkdtemp");
    path_ = pattern;
}

// Tests take permissions away; give them back (not through links, which may
// point at device files) so that everything can be removed.
ScratchDir::~ScratchDir()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (const auto& entry :
         fs::recursive_directory_iterator(path_, fs::directory_options::skip_permission_denied, ignored))
        if (!entry.is_symlink())
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add, ignored);
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
