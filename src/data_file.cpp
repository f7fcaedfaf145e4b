#include "data_file.h"

#include <climits>
#include <cstdio>
#include <memory>

#include "allocation.h"
#include "console.h"
#include "text_input.h"

#include <sys/stat.h>

namespace {

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

constexpr std::size_t kStreamBuffer = 1 << 16;

File open_data(const char* path)
{
    File file(std::fopen(path, "r"), std::fclose);
    if (file)
        std::setvbuf(file.get(), nullptr, _IOFBF, kStreamBuffer);
    return file;
}

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

void store_rows(RunState& state, const char* path, std::FILE* stream)
{
    LineReader reader(stream);
    const int* flags = state.readflag ? state.readflag->data() : nullptr;
    // Lines beyond the counted rows (the file grew meanwhile) are ignored.
    for (int r = 0; r < state.datarows && reader.myfgets(); ++r) {
        int count = readline(reader.line(), state.data.row(r), state.datacols, flags);
        if (count > state.datacols)
            error("Error %s %d:\nnumber of variables in std (%d)\nand in %s (%d) mismatch.\n", kErrorLabel, 691,
                  state.datacols, path, count);
    }
    if (reader.failed())
        error("Error %s %d:reading %s\n", kErrorLabel, 689, path);
}

}  // namespace

void allocate(RunState& state, long long rows)
{
    state.data = RowMatrix{};
    state.result = RowMatrix{};
    state.datarows = 0;
    // A row count beyond the 32-bit range cannot be held: it fails like an
    // allocation of that size would.
    std::uint64_t cells = static_cast<std::uint64_t>(rows) * static_cast<unsigned>(state.datacols);
    if (rows > INT_MAX)
        cells = UINT64_MAX;
    state.data.cells = allocate_zeroed<double>(cells, 624);
    state.result.cells = allocate_zeroed<double>(cells, 627);
    state.data.rows = state.result.rows = static_cast<int>(rows);
    state.data.cols = state.result.cols = state.datacols;
    state.datarows = static_cast<int>(rows);
}

void readfile(RunState& state, const char* path)
{
    File file = open_data(path);
    if (!state.quiet)
        message("File:      %s\n", path);
    if (state.debug)
        message("scanning file\n");
    if (!file)
        error("Error %s %d:opening %s\n", kErrorLabel, 646, path);
    if (readable_once(file.get()))
        error("Error %s %d:%s is a pipe; a data file is read twice\n", kErrorLabel, 648, path);
    long long rows = count_rows(state, path, file.get());
    if (state.quiet)
        message("rows:%lld file:%s", rows, path);
    else
        message("Rows:      %lld\n", rows);
    file.reset();
    allocate(state, rows);
    if (state.debug)
        message("reading file\n");
    file = open_data(path);
    if (!file)
        error("Error %s %d:opening %s\n", kErrorLabel, 676, path);
    store_rows(state, path, file.get());
}
