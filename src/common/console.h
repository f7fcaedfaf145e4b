// Console traffic of a run: progress text on standard output through
// `message` (on standard error when the run writes scores to standard
// output), fatal errors on standard error through `error`. Every stop of the
// program after a failure goes through `error`.
#pragma once

// Source-location label that opens every numbered error text.
inline constexpr const char* kErrorLabel = "src/scorix";

// Opens each of the descriptors 0, 1 and 2 that the caller left closed on
// /dev/null, before anything else is opened: else the next file opened (an
// output, say) would take its number, and the console would write into it.
// It is opened the other way round (standard input for writing, the others
// for reading), so that using it fails as the closed descriptor would.
// Called first by both programs; ends the process with status 1 when
// /dev/null cannot be opened.
void hold_standard_descriptors();

// Prints printf-style onto standard output and flushes it.
void message(const char* format, ...) __attribute__((format(printf, 1, 2)));

// From now on `message` prints onto standard error: standard output carries
// scores, and the two must never mix.
void console_to_stderr();

// A line that `error` prints after its text while it is set (null: none):
// what a caller of a failed run must know about output already delivered.
void set_error_note(const char* note);

// Prints "scorix: warning: " and the text printf-style onto standard error
// and flushes it; the run goes on.
void warning(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints printf-style onto standard error, runs the clean-ups registered with
// at_fatal_error, waits for one character when standard input is a terminal
// and ends the process with status 1. Never returns.
[[noreturn]] void error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The error of two counts that disagree, as the coefficient file's checks
// print it: "number of FIRST (N) and number of SECOND (M) is missmatched".
[[noreturn]] void count_mismatch(int site, const char* first, int first_count, const char* second, int second_count);

// Registers a clean-up that `error` runs once the text is printed (a
// temporary output file to remove, say), in the order registered; the same
// one twice counts once. It must be safe to run at any moment.
using FatalCleanup = void (*)();
void at_fatal_error(FatalCleanup cleanup);

// What `error` does once the text is printed and the clean-ups have run.
// The default waits for one character on a terminal and exits with status 1.
// A test or fuzz harness installs its own, which must not return (it may
// throw or jump).
using FatalHandler = void (*)();
void set_fatal_handler(FatalHandler handler);
