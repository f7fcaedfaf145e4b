// The help screen. It is paged through "more" by a second instance of the
// program, unless --more asks for it to be printed directly.
#pragma once

#include <string>

#include "run_state.h"

// Shows the help screen and ends the process: status 0 when printed
// directly, 1 after paging.
[[noreturn]] void usage(const RunState& state, const char* program_path);

// The shell command that pages the help: the program path quoted for the
// shell, then " --more -? | more".
std::string pager_command(const std::string& program_path);
