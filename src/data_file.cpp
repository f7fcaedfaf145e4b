#include "data_file.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

#include "allocation.h"
#include "console.h"
#include "parallel.h"

#include <sys/stat.h>
#include <unistd.h>

// About a megabyte per matrix keeps a block in the second level cache for
// the projection and the memory small; larger blocks gain nothing measurable.
long long block_rows(int cols)
{
    constexpr long long kBlockBytes = 1 << 20;
    return std::max(1LL, kBlockBytes / (8LL * std::max(cols, 1)));
}

namespace {

// The count pass gives each thread a part of a regular file of at least
// this many bytes: a smaller file is counted on the calling thread alone.
constexpr long long kPartBytes = 1 << 20;

// A read pass block stops taking lines once it holds this much text.
constexpr std::size_t kBlockText = 1 << 20;

// The size of a regular file, which can be counted in parts; 0 otherwise.
long long regular_size(const char* path)
{
    struct stat status;
    return ::stat(path, &status) == 0 && S_ISREG(status.st_mode) ? status.st_size : 0;
}

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

// What the count pass found in one part of a file (the whole file when it
// is counted in one piece).
struct Tally {
    long long rows = 0;
    long long bytes = 0;        // of the rows' lines
    long long lines = 0;        // lines read, comment lines included
    int too_many = -1;          // numbers of the first line with more than the variables
    bool failed = false;        // a read error
    DataReader::TextRows text_rows;  // its line counted from the start of the part
};

// Counts the lines of part `part`. It stops at a line with too many numbers,
// and as soon as `first_bad`, the first part known to hold one, comes
// before it: nothing after that line matters.
Tally count_lines(LineReader reader, int cols, int part, std::atomic<int>& first_bad)
{
    Tally tally;
    while (reader.myfgets()) {
        int count = checkline(reader.line());
        if (count > cols) {
            tally.too_many = count;
            int seen = first_bad.load();
            while (part < seen && !first_bad.compare_exchange_weak(seen, part)) {
            }
            break;
        }
        if (count < cols && holds_text(reader.line()))
            note_text_row(tally.text_rows, reader);
        ++tally.rows;
        tally.bytes += static_cast<long long>(reader.line().size());
        if (first_bad.load(std::memory_order_relaxed) < part)
            break;
    }
    tally.lines = reader.line_number();
    tally.failed = reader.failed();
    return tally;
}

// Where the parts of a file of `size` bytes start: at 0, and at the first
// line that starts at or after each further even share, when one starts
// within that share.
std::vector<long long> part_starts(int fd, long long size, int parts)
{
    std::vector<long long> starts{0};
    char buffer[1 << 16];
    for (int i = 1; i < parts; ++i) {
        long long at = std::max(size * i / parts - 1, starts.back());
        const long long limit = size * (i + 1) / parts - 1;
        while (at < limit) {
            ssize_t got = ::pread(fd, buffer, static_cast<std::size_t>(std::min<long long>(sizeof buffer, limit - at)), at);
            if (got <= 0)
                break;
            if (const void* newline = std::memchr(buffer, '\n', static_cast<std::size_t>(got))) {
                long long start = at + (static_cast<const char*>(newline) - buffer) + 1;
                if (start < size)
                    starts.push_back(start);
                break;
            }
            at += got;
        }
    }
    return starts;
}

// The count pass: a plain regular file large enough in parts on several
// threads, any other (a compressed one) in one piece. The parts' tallies
// add up in file order, and the first part with a failure gives the failure
// a single pass would meet.
Tally count_rows(const RunState& state, const char* path, ByteStream counted)
{
    std::atomic<int> first_bad{INT_MAX};
    const long long size = counted.compressed() || thread_count() == 1 ? 0 : regular_size(path);
    const int parts = static_cast<int>(std::min<long long>(thread_count(), size / kPartBytes));
    File probe(parts > 1 ? std::fopen(path, "r") : nullptr, std::fclose);
    if (!probe)
        return count_lines(LineReader(std::move(counted)), state.datacols, 0, first_bad);
    const std::vector<long long> starts = part_starts(::fileno(probe.get()), size, parts);
    std::vector<Tally> tallies(starts.size());
    run_parts(static_cast<int>(starts.size()), [&](int part) {
        const std::size_t next = static_cast<std::size_t>(part) + 1;
        const long long limit = next < starts.size() ? starts[next] - starts[part] : -1;
        if (part == 0) {
            tallies[0] = count_lines(LineReader(std::move(counted), limit), state.datacols, 0, first_bad);
            return;
        }
        File file(std::fopen(path, "r"), std::fclose);
        if (!file || ::fseeko(file.get(), starts[part], SEEK_SET) != 0) {
            tallies[part].failed = true;
            return;
        }
        tallies[part] = count_lines(LineReader(file.get(), limit), state.datacols, part, first_bad);
    });
    Tally total;
    for (Tally& tally : tallies) {
        if (tally.too_many >= 0 || tally.failed) {
            total.too_many = tally.too_many;
            total.failed = tally.failed;
            break;
        }
        if (tally.text_rows.count > 0 && total.text_rows.count == 0) {
            total.text_rows = std::move(tally.text_rows);
            total.text_rows.first_line += total.lines;
        } else {
            total.text_rows.count += tally.text_rows.count;
        }
        total.rows += tally.rows;
        total.bytes += tally.bytes;
        total.lines += tally.lines;
    }
    return total;
}

// Room for `size` bytes in the block's text, the first `kept` of them kept
// (copied from `from`, which may lie in the old text). False when memory
// runs out.
bool make_room(LineBlock& block, std::size_t size, const char* from, std::size_t kept)
{
    if (block.capacity >= size) {
        if (kept && from != block.text.get())
            std::memmove(block.text.get(), from, kept);
        return true;
    }
    std::unique_ptr<char[]> larger;
    try {
        larger = std::make_unique_for_overwrite<char[]>(size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (kept)
        std::memcpy(larger.get(), from, kept);
    block.text = std::move(larger);
    block.capacity = size;
    return true;
}

}  // namespace

DataReader::DataReader(ByteStream stream, long long rows, int cols, const char* path)
    : stream_(std::move(stream)), rows_(rows), rows_left_(rows), cols_(cols), path_(path)
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
    state.data.capacity = state.result.capacity = static_cast<int>(block);
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
    const bool compressed = counted.compressed();
    Tally tally = count_rows(state, path, std::move(counted));
    // Damaged compressed data can make a line of too many numbers before the
    // check at the end of the stream fails: the damage is what to report.
    if (tally.too_many >= 0 && compressed && ByteStream::damaged(path)) {
        tally.too_many = -1;
        tally.failed = true;
    }
    if (tally.too_many >= 0)
        error("Error %s %d:\nnumber of variables in std (%d)\nand in %s (%d) mismatch.\n", kErrorLabel, 655,
              state.datacols, path, tally.too_many);
    if (tally.failed)
        error("Error %s %d:reading %s\n", kErrorLabel, 647, path);
    if (state.quiet)
        message("rows:%lld file:%s", tally.rows, path);
    else
        message("Rows:      %lld\n", tally.rows);
    allocate(state, tally.rows);
    if (state.debug)
        message("reading file\n");
    ByteStream read = ByteStream::open(path);
    if (!read.is_open())
        error("Error %s %d:opening %s\n", kErrorLabel, 676, path);
    DataReader reader(std::move(read), tally.rows, state.datacols, path);
    reader.text_rows = std::move(tally.text_rows);
    reader.threads_ = tally.bytes > static_cast<long long>(kBlockText) ? thread_count() : 1;
    return reader;
}

bool read_lines(DataReader& reader, LineBlock& block, int max_rows)
{
    block.lines.clear();
    block.failure = 0;
    block.too_many = -1;
    const long long wanted = std::min<long long>(max_rows, reader.rows_left_);
    if (reader.ended_ || wanted <= 0) {
        reader.ended_ = true;
        return false;
    }
    // Lines beyond the counted rows (the file grew meanwhile) are never
    // read; a file that lost rows since they were counted is an error, not
    // rows of zeros.
    std::size_t filled = reader.carried_size_;
    if (!make_room(block, std::max(kBlockText, filled), reader.carried_, filled))
        block.failure = 689;
    std::size_t begin = 0;     // of the next line
    std::size_t searched = 0;  // no newline before this
    auto take = [&](std::size_t end) {
        std::string_view line(block.text.get() + begin, end - begin);
        if (!iscomment(line))
            block.lines.emplace_back(begin, end);
        begin = searched = end;
    };
    while (!block.failure) {
        while (block.rows() < wanted) {
            char* text = block.text.get();
            const void* newline = std::memchr(text + searched, '\n', filled - searched);
            if (!newline) {
                searched = filled;
                break;
            }
            take(static_cast<std::size_t>(static_cast<const char*>(newline) - text) + 1);
        }
        if (block.rows() == wanted)
            break;
        if (reader.at_end_) {
            if (begin < filled)
                take(filled);
            if (block.rows() < wanted)
                block.failure = reader.stream_.failed() ? 689 : 692;
            break;
        }
        if (block.rows() > 0 && filled >= kBlockText)
            break;
        // More input behind what is there; a long line doubles the room.
        if (block.capacity - filled < kBlockText / 2 &&
            !make_room(block, std::max(2 * block.capacity, filled + kBlockText), block.text.get(), filled)) {
            block.failure = 689;
            break;
        }
        // Reads of a quarter of the block's text at most: what a block
        // leaves for the next one stays small.
        std::size_t room = std::min(block.capacity - filled, kBlockText / 4);
        std::size_t got = reader.stream_.read(block.text.get() + filled, room);
        filled += got;
        reader.at_end_ = got < room;
    }
    reader.carried_ = block.text.get() + begin;
    reader.carried_size_ = filled - begin;
    reader.rows_left_ -= block.rows();
    reader.ended_ = block.failure != 0;
    block.rows_read = reader.rows_ - reader.rows_left_;
    return true;
}

void convert_lines(const RunState& state, LineBlock& block, RowMatrix& data)
{
    const int cols = state.datacols;
    const int* flags = state.readflag ? state.readflag->data() : nullptr;
    block.too_many = -1;
    for (int r = 0; r < block.rows(); ++r) {
        double* row = data.row(r);
        int count = readline(block.line(r), row, cols, flags);
        if (count > cols) {
            block.too_many = count;
            return;
        }
        std::fill(row + count, row + cols, 0.0);
    }
}

void stop_on_failure(const DataReader& reader, const LineBlock& block)
{
    if (block.too_many >= 0)
        error("Error %s %d:\nnumber of variables in std (%d)\nand in %s (%d) mismatch.\n", kErrorLabel, 691,
              reader.cols_, reader.path_, block.too_many);
    if (block.failure == 689)
        error("Error %s %d:reading %s\n", kErrorLabel, 689, reader.path_);
    if (block.failure == 692)
        error("Error %s %d:%s changed while it was read (%d of %d rows)\n", kErrorLabel, 692, reader.path_,
              static_cast<int>(block.rows_read), static_cast<int>(reader.rows_));
}

bool readblock(RunState& state, DataReader& reader)
{
    state.datarows = 0;
    if (!read_lines(reader, reader.block_, state.data.capacity))
        return false;
    convert_lines(state, reader.block_, state.data);
    stop_on_failure(reader, reader.block_);
    state.datarows = reader.block_.rows();
    return true;
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
