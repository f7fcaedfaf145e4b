// Where a line of a data file becomes numbers, for both programs: one source
// per way of writing rows (runs of numbers separated by white space, or a
// table as table_format.h reads it), so that another format is one more
// source. A source is used by one thread at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "read/number_scanner.h"
#include "read/table_format.h"

class RowSource {
public:
    virtual ~RowSource() = default;

    // Stores the values of `line` into row[0], row[1], ... up to `capacity`
    // of them (a value whose flag in `flags` is 0 as +0.0) and tells what the
    // line held; its label fields are appended to `labels` when given.
    virtual RowFields read(std::string_view line, double* row, int capacity, const int* flags, std::string* labels) = 0;
};

// Runs of numbers separated by white space, as readline reads them (count:
// the numbers at the start of the line, however many; numbers_end: where
// they end, unless `with_end` is false). scorix's plain rows, its fast path,
// name this source directly, so that its call is inlined.
class NumberRuns final : public RowSource {
public:
    explicit NumberRuns(bool with_end = true) : with_end_(with_end) {}

    RowFields read(std::string_view line, double* row, int capacity, const int* flags, std::string*) override
    {
        RowFields found;
        found.count = readline(line, row, capacity, flags, with_end_ ? &found.numbers_end : nullptr);
        return found;
    }

private:
    bool with_end_;
};

// The source of rows written as `format` says, or for nullptr NumberRuns.
std::unique_ptr<RowSource> row_source(const TableFormat* format);
