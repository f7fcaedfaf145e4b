// Test helpers beyond those shared with the fuzz harnesses: running the
// built program, catching a fatal error in-process, comparing by bits.
#pragma once

#include <gtest/gtest.h>

#include "harness.h"

struct RunResult {
    int status = -1;  // the exit status, or minus the signal that ended the run
    std::string out, err;
};

// Runs `program` in `dir`, input from /dev/null, `env` ("NAME=value") added.
RunResult run_scorix(const ScratchDir& dir, const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {}, const std::string& program = SCORIX_BINARY);

// Runs `call`, which must end in a fatal error; returns its standard error.
template <class Call>
std::string fatal_text(Call call)
{
    testing::internal::CaptureStderr();
    try {
        call();
        ADD_FAILURE() << "no fatal error";
    } catch (const FatalStop&) {
    }
    return testing::internal::GetCapturedStderr();
}

#define EXPECT_BITS_EQ(expected, actual)                                                                               \
    EXPECT_EQ(bits(expected), bits(actual)) << "expected " << describe(expected) << ", got " << describe(actual)

inline std::string repeat(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

// A coefficient file for three variables with a well-conditioned matrix.
extern const char* const kThreeVariableFsc;
