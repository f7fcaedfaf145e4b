// A rectangular table of doubles, one row per data line, stored row after
// row in one block; it holds a block of a file's rows, not the whole file.
// Each block of rows in flight holds two: its data and its results.
#pragma once

#include <cstddef>
#include <vector>

struct RowMatrix {
    int capacity = 0;  // rows the block has room for
    int cols = 0;
    std::vector<double> cells;  // capacity x cols, row-major

    double* row(int r) { return cells.data() + static_cast<std::size_t>(r) * cols; }
    const double* row(int r) const { return cells.data() + static_cast<std::size_t>(r) * cols; }
};
