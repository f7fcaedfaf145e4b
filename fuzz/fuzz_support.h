// Shared by the fuzz targets: a fatal error becomes an exception that the
// harness catches, so one input's error does not end the fuzzing process,
// and inputs reach the readers as files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Thrown by the harness's fatal handler where the program would exit.
struct FatalStop {};

// Installs the throwing fatal handler (once).
void catch_fatal_errors();

// A file holding the input bytes, rewritten for each input. The file is
// memory-backed; path() names it for fopen.
class InputFile {
public:
    explicit InputFile(const char* name);
    void write(const std::uint8_t* data, std::size_t size);
    const std::string& path() const { return path_; }
    std::string directory() const;

private:
    std::string path_;
};

// Stops the process with a message when a harness check fails.
[[noreturn]] void check_failed(const char* what);
#define FUZZ_CHECK(condition) \
    do { \
        if (!(condition)) \
            check_failed(#condition); \
    } while (0)
