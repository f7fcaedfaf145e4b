#include "data_file.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "allocation.h"
#include "console.h"

namespace {

// Rows per block: about a megabyte per matrix keeps a block in the second
// level cache for the projection and the memory small; larger blocks gain
// nothing measurable.
constexpr long long kBlockBytes = 1 << 20;

long long block_rows(int cols)
{
    return std::max(1LL, kBlockBytes / (8LL * std::max(cols, 1)));
}

// The count pass reads the stream to its end and closes it.
long long count_rows(const RunState& state, const char* path, LineReader reader)
{
    long long rows = 0;
    while (reader.myfgets()) {
        int count = checkline(reader.line());
        if (count > state.datacols)
            error("Error %s %d:\nnumber of variables in std (%d)\nand in %s (%d) mismatch.\n", kErrorLabel, 655,
                  state.datacols, path, count);
        ++rows;
    }
    if (reader.failed())
        error("Error %s %d:reading %s\n", kErrorLabel, 647, path);
    return rows;
}

}  // namespace

DataReader::DataReader(ByteStream stream, long long rows, const char* path)
    : lines_(std::move(stream)), rows_left_(rows), path_(path)
{
}

void allocate(RunState& state, long long rows)
{
    state.data = RowMatrix{};
    state.result = RowMatrix{};
    state.datarows = 0;
    // A row count beyond the 32-bit range cannot be held: it fails like an
    // allocation for the whole file would.
    long long block = std::min(rows, block_rows(state.datacols));
    std::uint64_t cells = static_cast<std::uint64_t>(block) * static_cast<unsigned>(state.datacols);
    if (rows > INT_MAX)
        cells = UINT64_MAX;
    state.data.cells = allocate_zeroed<double>(cells, 624);
    state.result.cells = allocate_zeroed<double>(cells, 627);
    state.data.rows = state.result.rows = static_cast<int>(block);
    state.data.cols = state.result.cols = state.datacols;
}

DataReader readfile(RunState& state, const char* path)
{
    ByteStream counted = ByteStream::open(path);
    if (!state.quiet)
        message("File:      %s\n", path);
    if (state.debug)
        message("scanning file\n");
    if (!counted.is_open())
        error("Error %s %d:opening %s\n", kErrorLabel, 646, path);
    // A pipe, a FIFO or a socket gives its lines once: the read pass after
    // the count pass would find nothing and the rows would silently stay 0
    // (or, for a FIFO without a writer, the second open would wait forever).
    if (counted.readable_once())
        error("Error %s %d:%s is a pipe; a data file is read twice\n", kErrorLabel, 648, path);
    long long rows = count_rows(state, path, LineReader(std::move(counted)));
    if (state.quiet)
        message("rows:%lld file:%s", rows, path);
    else
        message("Rows:      %lld\n", rows);
    allocate(state, rows);
    if (state.debug)
        message("reading file\n");
    ByteStream read = ByteStream::open(path);
    if (!read.is_open())
        error("Error %s %d:opening %s\n", kErrorLabel, 676, path);
    return DataReader(std::move(read), rows, path);
}

bool readblock(RunState& state, DataReader& reader)
{
    const int rows = static_cast<int>(std::min<long long>(reader.rows_left_, state.data.rows));
    const int cols = state.datacols;
    const int* flags = state.readflag ? state.readflag->data() : nullptr;
    state.datarows = 0;
    for (int r = 0; r < rows; ++r) {
        double* row = state.data.row(r);
        int stored = 0;
        // Lines beyond the counted rows (the file grew meanwhile) are never
        // read; rows missing at the end (it shrank) stay zero.
        if (reader.lines_.myfgets()) {
            int count = readline(reader.lines_.line(), row, cols, flags);
            if (count > cols)
                error("Error %s %d:\nnumber of variables in std (%d)\nand in %s (%d) mismatch.\n", kErrorLabel, 691,
                      cols, reader.path_, count);
            stored = count;
        } else if (reader.lines_.failed()) {
            error("Error %s %d:reading %s\n", kErrorLabel, 689, reader.path_);
        }
        std::fill(row + stored, row + cols, 0.0);
    }
    reader.rows_left_ -= rows;
    state.datarows = rows;
    return rows > 0;
}
