// The run of scorix-fit: the options (fit_options), the rows of the data
// files (fit_input), the fit with its factor model, and the outputs, all of
// them or none. Errors are reported the GNU way on standard error.
#pragma once

// Runs scorix-fit on the command line and returns its exit status: 0 after
// a complete run, 1 after a bad input or a failed write, 2 after a rejected
// command line. Never reads standard input.
int run_fit(int argc, char** argv);
