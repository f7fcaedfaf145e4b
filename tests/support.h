// Shared helpers of the tests: scratch directories, running the built
// program, catching fatal errors in-process, comparing doubles by their bits.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

// Thrown by the tests' fatal handler in place of ending the process.
struct FatalStop {};

// A fresh directory, removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    bool exists(const std::string& name) const { return std::filesystem::exists(path_ / name); }
    void write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;

private:
    std::filesystem::path path_;
};

struct RunResult {
    int status = -1;
    std::string out, err;
};

// Runs `program` in `dir` with standard input from /dev/null and `env`
// entries ("NAME=value") added to the environment.
RunResult run_scorix(const ScratchDir& dir, const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {}, const std::string& program = SCORIX_BINARY);

// Runs `call`, which must end in a fatal error; returns its standard error.
template <class Call>
std::string fatal_text(Call call)
{
    testing::internal::CaptureStderr();
    bool stopped = false;
    try {
        call();
    } catch (const FatalStop&) {
        stopped = true;
    }
    std::string text = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(stopped) << "no fatal error";
    return text;
}

inline std::uint64_t bits(double value)
{
    std::uint64_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

std::string describe(double value);  // hex and decimal

#define EXPECT_BITS_EQ(expected, actual) \
    EXPECT_EQ(bits(expected), bits(actual)) << "expected " << describe(expected) << ", got " << describe(actual)

// A coefficient file for three variables with a well-conditioned matrix.
extern const char* const kThreeVariableFsc;
