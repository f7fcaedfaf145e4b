// The spine of a run: options into the run state, the banner, the log line,
// the coefficients, and each data file through the forward or inverse
// pipeline.
#pragma once

#include "score/run_state.h"

// Banner line of the program.
extern const char* const Version;

// Runs the whole program on the command line; returns the exit status of a
// complete run (fatal errors end the process through `error`).
int run(int argc, char** argv);

// One data file through the forward or the inverse pipeline in one pass:
// its blocks are read, checked, transformed and written on as many threads
// as the run has, its row count is printed, and its output is put in place.
// Public for the data file fuzz target and the tests.
void process_file(RunState& state, const char* path);

// Stops the run unless the coefficient file gave [STD] and [FSC_SORTED] and
// every loaded vector and the matrix fit the number of variables. Public for
// the coefficient file fuzz target.
void check_vector_lengths(const RunState& state);
