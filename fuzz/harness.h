// Shared by the unit tests and the fuzz harnesses: a fatal error throws
// FatalStop, scratch directories hold input files, doubles go by their bits.
// A harness defines one_input for any bytes and names it with FUZZ_TARGET:
// LLVMFuzzerTestOneInput for libFuzzer (SCORIX_FUZZ), else a unit test that
// feeds it every file of tests/corpus/NAME (a seeded sweep may follow).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

struct FatalStop {};

std::string read_file(const std::filesystem::path& path);  // "" when it cannot be read

// A fresh directory, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const { return read_file(path_ / name); }

private:
    std::filesystem::path path_;
};

inline std::uint64_t bits(double value)
{
    return std::bit_cast<std::uint64_t>(value);
}
std::string describe(double value);  // hex and decimal

// A failed harness check: aborts under libFuzzer, throws in the unit tests.
[[noreturn]] void check_failed(const std::string& what);
#define FUZZ_CHECK(condition) ((condition) ? void() : check_failed(#condition))

using OneInput = void (*)(const std::uint8_t* data, std::size_t size);
inline void feed(OneInput one_input, const std::string& bytes)
{
    one_input(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}
#ifdef SCORIX_FUZZ
#define FUZZ_TARGET(name, one_input)                                                                                   \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* in, std::size_t size)                                    \
    {                                                                                                                  \
        return one_input(in, size), 0;                                                                                 \
    }
#else
#include <gtest/gtest.h>
void replay_corpus(const char* name, OneInput one_input);
#define FUZZ_TARGET(name, one_input)                                                                                   \
    TEST(Corpus, name)                                                                                                 \
    {                                                                                                                  \
        replay_corpus(#name, one_input);                                                                               \
    }
#endif
