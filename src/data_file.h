// Data files: one observation per line, one variable per column. A file is
// read twice, a count pass that vets every line and a read pass that stores
// the values into the run's `data` matrix.
#pragma once

#include "run_state.h"

// Counts, vets and stores the file at `path` into state.data, sizes
// state.result to match and sets datarows. Ends the run through `error` on
// any failure.
void readfile(RunState& state, const char* path);

// Replaces the data/result pair by a new zero-filled pair of `rows` rows.
void allocate(RunState& state, long long rows);
