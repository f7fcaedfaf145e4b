// The invocation log: every run that gets past its options appends one line
// to "logfile" in the current directory, with the time and the command line.
// Its escaping of odd words also keeps scorix-fit's comment lines whole.
#pragma once

#include <string>
#include <string_view>

// Appends the line for this run; prints "No logfile entry" on standard error
// when the log cannot be opened and lets the run go on.
void logfile(int argc, char* const* argv);

// The whole line for the given time stamp, ending in "\n": one line, however
// odd the arguments, as one holding a control character is written $'...'
// with C escapes (\n, \t, \r, \xHH, \\, \').
std::string log_line(const std::string& timestamp, int argc, char* const* argv);

// A word (an argument, a file name) as the log line writes it when it holds
// a control character, or starts as this form does: the shell's $'...' with
// C escapes (\n, \t, \r, \xHH, \\, \'), so that a newline in a file name
// can neither break a line nor forge another. Any other word as it is.
std::string escaped_word(std::string_view word);
