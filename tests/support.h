// Helpers of the unit and end-to-end tests beyond the ones shared with the
// fuzz harnesses: running the built program, catching a fatal error
// in-process, comparing doubles by their bits.
#pragma once

#include <gtest/gtest.h>

#include "harness.h"

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

#define EXPECT_BITS_EQ(expected, actual) \
    EXPECT_EQ(bits(expected), bits(actual)) << "expected " << describe(expected) << ", got " << describe(actual)

// A coefficient file for three variables with a well-conditioned matrix.
extern const char* const kThreeVariableFsc;
