// The run of scorix-fit: its command line, the data files read once in
// blocks of rows into the moments, the fit, and the coefficient file with
// the console table. Errors are reported the GNU way on standard error.
#pragma once

// Runs scorix-fit on the command line and returns its exit status: 0 after
// a complete run, 1 after a bad input or a failed write, 2 after a rejected
// command line. Never reads standard input.
int run_fit(int argc, char** argv);
