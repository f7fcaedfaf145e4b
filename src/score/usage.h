// The help screen. It is paged through "more" by a second instance of the
// program, unless --more asks for it to be printed directly.
#pragma once

#include <string>

#include "score/run_state.h"

// Shows the help screen and ends the process: status 0 when printed
// directly, 1 after paging.
[[noreturn]] void usage(const RunOptions& options, const char* program_path);
