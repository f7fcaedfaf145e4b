#include "data_file.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "allocation.h"
#include "console.h"

#include <sys/stat.h>

// About a megabyte per matrix keeps a block in the second level cache for
// the projection and the memory small; larger blocks gain nothing measurable.
long long block_rows(int cols)
{
    constexpr long long kBlockBytes = 1 << 20;
    return std::max(1LL, kBlockBytes / (8LL * std::max(cols, 1)));
}

namespace {

// A pipe, a FIFO or a socket gives its lines once: the read pass after the
// count pass would find nothing and the rows would silently stay 0 (or, for
// a FIFO without a writer, the second open would wait forever).
bool readable_once(std::FILE* stream)
{
    struct stat status;
    return ::fstat(::fileno(stream), &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
}

long long count_rows(const RunState& state, const char* path, std::FILE* stream)
{
    LineReader reader(stream);
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

DataReader::DataReader(File stream, long long rows, const char* path)
    : stream_(std::move(stream)), lines_(stream_.get()), rows_left_(rows), path_(path)
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
    File file(std::fopen(path, "r"), std::fclose);
    if (!state.quiet)
        message("File:      %s\n", path);
    if (state.debug)
        message("scanning file\n");
    if (!file)
        error("Error %s %d:opening %s\n", kErrorLabel, 646, path);
    if (readable_once(file.get()))
        error("Error %s %d:%s is a pipe; a data file is read twice\n", kErrorLabel, 648, path);
    long long rows = count_rows(state, path, file.get());
    file.reset();
    if (state.quiet)
        message("rows:%lld file:%s", rows, path);
    else
        message("Rows:      %lld\n", rows);
    allocate(state, rows);
    if (state.debug)
        message("reading file\n");
    file.reset(std::fopen(path, "r"));
    if (!file)
        error("Error %s %d:opening %s\n", kErrorLabel, 676, path);
    return DataReader(std::move(file), rows, path);
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
