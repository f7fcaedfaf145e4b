// The coefficient file: standard deviations ("[STD]"), means ("[MEAN]") and
// the square matrix of factor score coefficients ("[FSC_SORTED]"), loaded
// once per run into the run state.
#pragma once

#include <string_view>

#include "read/text_input.h"
#include "score/run_state.h"

// Reads the whole file and fills std, mean, fsc and datacols. Ends the run
// through `error` when the file cannot be opened or read, or when its
// sections disagree in size.
void readfsc(RunState& state, const char* path);

// The variables' names of the coefficient file at `path` (its "# names:"
// comment line), or nothing when it has none or cannot be read.
std::optional<std::vector<std::string>> read_names(const char* path);
