#include "data_file.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "allocation.h"
#include "console.h"

// About a megabyte per matrix keeps a block in the second level cache for
// the projection and the memory small; larger blocks gain nothing measurable.
long long block_rows(int cols)
{
    constexpr long long kBlockBytes = 1 << 20;
    return std::max(1LL, kBlockBytes / (8LL * std::max(cols, 1)));
}

namespace {

// A line that stops its numbers short of `cols` at something other than
// white space: "1,2,3", "height weight", "NA".
bool holds_text(std::string_view line)
{
    line = line.substr(0, line.find('\0'));
    std::string_view rest = line.substr(numbers_end(line));
    return rest.find_first_not_of(" \t\n\v\f\r") != std::string_view::npos;
}

void note_text_row(DataReader::TextRows& rows, const LineReader& reader)
{
    if (rows.count++ > 0)
        return;
    constexpr std::size_t kShown = 60;
    std::string_view line = reader.line();
    line = line.substr(0, std::min(line.find_first_of(std::string_view("\0\r\n", 3)), line.size()));
    rows.first_line = reader.line_number();
    rows.first = line.size() > kShown ? std::string(line.substr(0, kShown)) + "..." : std::string(line);
    // Control bytes of a binary file would play tricks on a terminal.
    std::replace_if(rows.first.begin(), rows.first.end(), [](char c) { return c >= 0 && c < ' '; }, '?');
}

// The count pass reads the stream to its end and closes it.
long long count_rows(const RunState& state, const char* path, LineReader reader, DataReader::TextRows& text_rows)
{
    long long rows = 0;
    while (reader.myfgets()) {
        int count = checkline(reader.line());
        if (count > state.datacols)
            error("Error %s %d:\nnumber of variables in std (%d)\nand in %s (%d) mismatch.\n", kErrorLabel, 655,
                  state.datacols, path, count);
        if (count < state.datacols && holds_text(reader.line()))
            note_text_row(text_rows, reader);
        ++rows;
    }
    if (reader.failed())
        error("Error %s %d:reading %s\n", kErrorLabel, 647, path);
    return rows;
}

}  // namespace

DataReader::DataReader(ByteStream stream, long long rows, const char* path)
    : lines_(std::move(stream)), rows_(rows), rows_left_(rows), path_(path)
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
    DataReader::TextRows text_rows;
    long long rows = count_rows(state, path, LineReader(std::move(counted)), text_rows);
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
    DataReader reader(std::move(read), rows, path);
    reader.text_rows = std::move(text_rows);
    return reader;
}

bool readblock(RunState& state, DataReader& reader)
{
    const int rows = static_cast<int>(std::min<long long>(reader.rows_left_, state.data.rows));
    const int cols = state.datacols;
    const int* flags = state.readflag ? state.readflag->data() : nullptr;
    state.datarows = 0;
    for (int r = 0; r < rows; ++r) {
        double* row = state.data.row(r);
        // Lines beyond the counted rows (the file grew meanwhile) are never
        // read; a file that lost rows since they were counted is an error,
        // not rows of zeros.
        if (!reader.lines_.myfgets()) {
            if (reader.lines_.failed())
                error("Error %s %d:reading %s\n", kErrorLabel, 689, reader.path_);
            error("Error %s %d:%s changed while it was read (%d of %d rows)\n", kErrorLabel, 692, reader.path_,
                  static_cast<int>(reader.rows_ - reader.rows_left_ + r), static_cast<int>(reader.rows_));
        }
        int count = readline(reader.lines_.line(), row, cols, flags);
        if (count > cols)
            error("Error %s %d:\nnumber of variables in std (%d)\nand in %s (%d) mismatch.\n", kErrorLabel, 691, cols,
                  reader.path_, count);
        std::fill(row + count, row + cols, 0.0);
    }
    reader.rows_left_ -= rows;
    state.datarows = rows;
    return rows > 0;
}

void warn_text_rows(const DataReader& reader)
{
    const DataReader::TextRows& rows = reader.text_rows;
    if (rows.count > 0)
        warning("%s: %lld %s text where numbers were expected (first at line %lld: \"%s\"); their missing values "
                "were read as 0\n",
                reader.path_, rows.count, rows.count == 1 ? "row holds" : "rows hold", rows.first_line,
                rows.first.c_str());
}
