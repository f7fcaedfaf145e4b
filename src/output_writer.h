// Writes the computed rows of one data file to its output file: the input
// name with its extension replaced by EXT, one line per row, the first
// `scores` values in "%-.7g" separated by one blank.
#pragma once

#include <string>
#include <string_view>

#include "run_state.h"

// The output name for an input path: the last "." of the last path
// component, unless it is the component's first character, and all after it
// give way to `ext`; without such a "." `ext` is appended.
std::string output_name(std::string_view path, std::string_view ext);

// Writes state.result for the input `path`. Ends the run through `error`
// when the output cannot be opened or written; an incomplete output file is
// removed.
void writefile(RunState& state, const char* path);
