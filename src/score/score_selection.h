// The -b list ("1,2,5-6"): which columns of every data row are read; the
// others are read as 0.
#pragma once

#include "score/run_state.h"

// Builds state.coefficients.readflag for datacols columns from state.options.flagline (every
// column without a list) and echoes the items unless quiet.
void parsereadflags(RunState& state);
