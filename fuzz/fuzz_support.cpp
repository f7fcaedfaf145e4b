#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <unistd.h>

#include "console.h"

namespace {

[[noreturn]] void throw_fatal()
{
    throw FatalStop{};
}

// One scratch directory per process, in memory when /dev/shm is there,
// removed at exit. Its name lives in a plain array, which outlives every
// exit handler.
char scratch[4096];

void remove_scratch()
{
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
}

std::string scratch_directory()
{
    if (!scratch[0]) {
        std::string base =
            std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path().string();
        std::string pattern = base + "/scorix-fuzz-XXXXXX";
        if (pattern.size() >= sizeof scratch || !mkdtemp(pattern.data()))
            check_failed("mkdtemp");
        pattern.copy(scratch, pattern.size());
        std::atexit(remove_scratch);
    }
    return scratch;
}

}  // namespace

void catch_fatal_errors()
{
    set_fatal_handler(throw_fatal);
}

InputFile::InputFile(const char* name) : path_(scratch_directory() + "/" + name) {}

std::string InputFile::directory() const
{
    return scratch_directory();
}

void InputFile::write(const std::uint8_t* data, std::size_t size)
{
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out)
        check_failed("writing the input file");
}

void check_failed(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}
