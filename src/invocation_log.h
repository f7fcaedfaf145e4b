// The invocation log: every run that gets past its options appends one line
// to "logfile" in the current directory, with the time and the command line.
#pragma once

#include <string>

// Appends the line for this run; prints "No logfile entry" on standard error
// when the log cannot be opened and lets the run go on.
void logfile(int argc, char* const* argv);

// The whole line for the given time stamp, ending in "\n": one line, however
// odd the arguments, as one holding a control character is written $'...'
// with C escapes (\n, \t, \r, \xHH, \\, \').
std::string log_line(const std::string& timestamp, int argc, char* const* argv);
