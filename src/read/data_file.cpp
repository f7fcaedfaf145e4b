#include "read/data_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "common/console.h"
#include "common/parallel.h"
#include "read/row_source.h"

// About a megabyte per matrix keeps a block in the second level cache for
// the projection and the memory small; larger blocks gain nothing measurable.
long long block_rows(int cols)
{
    constexpr long long kBlockBytes = 1 << 20;
    return std::max(1LL, kBlockBytes / (8LL * std::max(cols, 1)));
}

namespace {

// A block stops taking lines once it holds this much text.
constexpr std::size_t kBlockText = 1 << 20;

// Threads worth starting for a file: one for a plain regular file whose
// bytes fill one block's text at most, so that a small file takes the
// memory of one block and starts no thread.
int threads_for(const ByteStream& stream)
{
    const long long size = stream.plain_size();
    return size >= 0 && size <= static_cast<long long>(kBlockText) ? 1 : thread_count();
}

// A line that stops its numbers short of `cols` at something other than
// white space: "1,2,3", "height weight", "NA".
bool holds_text(std::string_view line)
{
    line = line.substr(0, line.find('\0'));
    std::string_view rest = line.substr(numbers_end(line));
    return rest.find_first_not_of(" \t\n\v\f\r") != std::string_view::npos;
}

// Control bytes of a binary file would play tricks on a terminal.
void hide_control_bytes(std::string& text)
{
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c >= 0 && c < ' '; }, '?');
}

// The first text row of a file, shown in the warning.
void note_first_text_row(DataReader::TextRows& rows, std::string_view line, long long number)
{
    constexpr std::size_t kShown = 60;
    line = line.substr(0, std::min(line.find_first_of(std::string_view("\0\r\n", 3)), line.size()));
    rows.first_line = number;
    rows.first = line.size() > kShown ? std::string(line.substr(0, kShown)) + "..." : std::string(line);
    hide_control_bytes(rows.first);
}

// convert_lines for a table: the labels kept, a row with a missing value
// (a short data row too) marked (its values 0 until its output says NA), a field
// that is not a number noted as the block's failure in delimited mode.
void convert_table(const ReadSettings& settings, RowSource& source, LineBlock& block, RowMatrix& data)
{
    const int cols = settings.cols;
    block.labels.clear();
    block.label_ends.assign(static_cast<std::size_t>(block.rows()), 0);
    block.missing.assign(static_cast<std::size_t>(block.rows()), 0);
    block.missing_rows = 0;
    block.bad_row = -1;
    for (int r = 0; r < block.rows(); ++r) {
        double* row = data.row(r);
        RowFields found = source.read(block.line(r), row, cols, settings.flags, &block.labels);
        block.label_ends[static_cast<std::size_t>(r)] = block.labels.size();
        if (found.bad_field >= 0 && (settings.format->delimiter || found.glued)) {
            block.bad_row = r;
            block.bad_field = found.bad_field;
            return;
        }
        if (found.count > cols) {
            block.too_many = found.count;
            block.bad_row = r;
            return;
        }
        // A score file holds the first scores only (a forward run with -s):
        // the scores a row lacks at its end are zeros, as in a plain row.
        // Its empty fields and missing-value tokens are still missing.
        if (settings.short_rows_zero && found.count < cols && found.bad_field < 0) {
            std::fill(row + found.count, row + cols, 0.0);
            found.missing -= cols - found.count;
        }
        if (found.missing) {
            block.missing[static_cast<std::size_t>(r)] = 1;
            ++block.missing_rows;
            std::fill(row, row + cols, 0.0);
        }
    }
}

}  // namespace

DataReader::DataReader(ByteStream stream, const ReadSettings& settings, const char* path, int threads)
    : LineSplitter(std::move(stream)), settings_(settings), threads_(threads), path_(path), skip_(settings.skip)
{
    if (const TableFormat* format = settings.format) {
        table_ = true;
        delimiter_ = format->delimiter;
        header_pending_ = format->header;
    }
    // The file's name without its folders, or what "-" stands for.
    const char* slash = std::strrchr(path, '/');
    const std::string label = names_standard_input(path) ? "standard input" : slash ? slash + 1 : path;
    if (const std::atomic<long long>* counter = consumed())
        progress_ = std::make_unique<Progress>(label, file_size(), true, counter);
}

DataReader DataReader::open(const char* path, const ReadSettings& settings)
{
    ByteStream stream = ByteStream::open(path);
    const int cause = stream.is_open() ? 0 : errno;
    const int threads = threads_for(stream);
    DataReader reader(std::move(stream), settings, path, threads);
    reader.open_cause_ = cause;
    reader.ended_ = cause != 0;
    return reader;
}

ReadFailure DataReader::open_failure() const
{
    ReadFailure failure;
    if (open_cause_) {
        failure.kind = ReadFailure::Kind::open;
        failure.cause = open_cause_;
    }
    return failure;
}

bool DataReader::read_lines(LineBlock& block, int max_rows, bool exact_rows)
{
    block.lines.clear();
    block.failed = false;
    block.open_quote = 0;
    block.too_many = -1;
    block.bad_row = -1;
    block.first_line = lines();
    if (ended_) {
        progress_.reset();
        return false;
    }
    if (progress_)
        progress_->tick();
    // A block of a stream decompressed ahead takes the buffer of its next
    // bytes as its text, with what the last block left in front of them,
    // rather than copying them out.
    ByteStream::Taken taken{block.text, block.capacity, carried_, carried_size_};
    std::size_t filled = carried_size_;
    block.text_begin = 0;
    if (take_next_ && take(taken)) {
        block.text_begin = taken.begin;
        filled = taken.end;
    } else {
        block.failed = !make_room(block.text, block.capacity, std::max(kBlockText, filled), carried_, filled);
    }
    block.cause = block.failed ? ENOMEM : 0;
    std::size_t begin = block.text_begin;     // of the next record (a line, or lines joined by a quoted field)
    std::size_t start = block.text_begin;     // of the next line
    std::size_t searched = block.text_begin;  // no newline before this
    long long record_lines = 0;
    std::size_t kept = block.text_begin;  // the text up to the end of the last row
    long long kept_lines = block.first_line;
    block.taken_out.clear();
    bool in_quote = false;
    long long quote_line = 0;  // where the open quote opened
    // No quote before this: the lines before it are looked at no further,
    // as one memchr over the text costs less than one per line.
    std::size_t next_quote = 0;
    auto take = [&](std::size_t end) {
        // The lines skipped at the start are no records: a quote in them
        // opens nothing, and the header is the line after them.
        if (skip_ > 0) {
            --skip_;
            count_lines(1);
            begin = start = searched = end;
            return;
        }
        const std::string_view line(block.text.get() + start, end - start);
        ++record_lines;
        if (delimiter_ && end > next_quote) {
            const std::size_t from = std::max(start, next_quote);
            const void* quote = std::memchr(block.text.get() + from, '"', filled - from);
            next_quote = quote ? static_cast<std::size_t>(static_cast<const char*>(quote) - block.text.get()) : filled;
        }
        start = searched = end;
        // A comment line is no record, whatever it holds.
        if (delimiter_ && (in_quote || end > next_quote) && !(record_lines == 1 && iscomment(line))) {
            const LineEnd ends = line_end(line, delimiter_, in_quote);
            in_quote = ends != LineEnd::record;
            if (ends == LineEnd::quote_opened)
                quote_line = lines() + record_lines;
            if (in_quote)
                return;
        }
        const std::string_view record(block.text.get() + begin, end - begin);
        if (iscomment(record) || (table_ && blank_line(record))) {
        } else if (header_pending_) {
            header_.assign(record);
            header_line_ = lines() + 1;
            header_pending_ = false;
        } else {
            block.lines.emplace_back(begin, end);
            kept = end;
            kept_lines = lines() + record_lines;
        }
        count_lines(record_lines);
        record_lines = 0;
        // A table's empty lines are no rows: a run of them is passed at
        // once (a gigabyte of them in a second, not in a minute).
        for (const char* text = block.text.get(); table_ && end < filled && text[end] == '\n'; ++end)
            count_lines(1);
        begin = start = searched = end;
    };
    while (!block.failed) {
        while (block.rows() < max_rows) {
            const std::size_t end = newline_end(block.text.get(), searched, filled);
            if (end == npos) {
                searched = filled;
                break;
            }
            take(end);
        }
        if (block.rows() == max_rows)
            break;
        if (at_end()) {
            if (const std::size_t end = last_line_end(start, filled); end != npos)
                take(end);
            block.failed = stream_failed();
            block.cause = block.failed ? errno : 0;
            // A quote still open at the end: the record is cut short.
            block.open_quote = in_quote ? quote_line : 0;
            ended_ = true;
            break;
        }
        if (block.rows() > 0 && filled - block.text_begin >= kBlockText && !exact_rows)
            break;
        // Rather than grow, a block lets go of the lines it skipped after its
        // last row (all of them while it holds none), so that memory does not
        // grow with comment or blank lines; line_number adds them back.
        if (block.capacity - filled < kBlockText / 2 && begin - kept >= block.capacity / 4) {
            std::memmove(block.text.get() + kept, block.text.get() + begin, filled - begin);
            if (block.taken_out.empty() || block.taken_out.back().first != kept)
                block.taken_out.emplace_back(kept, 0);
            block.taken_out.back().second += lines() - kept_lines;
            kept_lines = lines();
            filled -= begin - kept;
            start -= begin - kept;
            searched -= begin - kept;
            begin = kept;
            next_quote = 0;
        }
        // More input behind what is there; a long line doubles the room.
        if (block.capacity - filled < kBlockText / 2 &&
            !make_room(block.text, block.capacity, std::max(2 * block.capacity, filled + kBlockText), block.text.get(),
                       filled)) {
            block.failed = true;
            block.cause = ENOMEM;
            break;
        }
        // Reads of a quarter of the block's text at most: what a block
        // leaves for the next one stays small.
        std::size_t room = std::min(block.capacity - filled, kBlockText / 4);
        filled += fill(block.text.get() + filled, room);
    }
    carried_ = block.text.get() + begin;
    carried_size_ = filled - begin;
    take_next_ = !exact_rows && block.rows() < max_rows && carried_size_ <= ByteStream::kTakenFront;
    rows_ += block.rows();
    ended_ = ended_ || block.failed;
    return block.rows() > 0 || block.failed || block.open_quote;
}

long long line_number(const LineBlock& block, int row)
{
    // The lines before the block, and those of the block up to the row,
    // those taken out of its text included.
    const std::size_t begin = block.lines[static_cast<std::size_t>(row)].first;
    const char* text = block.text.get();
    long long lines = block.first_line + std::count(text + block.text_begin, text + begin, '\n') + 1;
    for (const auto& [at, count] : block.taken_out)
        lines += at <= begin ? count : 0;
    return lines;
}

void convert_lines(const ReadSettings& settings, LineBlock& block, RowMatrix& data)
{
    const int cols = settings.cols;
    block.too_many = -1;
    block.bad_row = -1;
    block.text_rows = 0;
    block.first_text_row = -1;
    if (settings.format) {
        convert_table(settings, *row_source(settings.format), block, data);
        return;
    }
    NumberRuns source(false);
    for (int r = 0; r < block.rows(); ++r) {
        double* row = data.row(r);
        const int count = source.read(block.line(r), row, cols, settings.flags, nullptr).count;
        if (count > cols) {
            block.too_many = count;
            block.bad_row = r;
            return;
        }
        std::fill(row + count, row + cols, 0.0);
        if (count < cols && holds_text(block.line(r)) && block.text_rows++ == 0)
            block.first_text_row = r;
    }
}

ReadFailure DataReader::failure(const LineBlock& block)
{
    ReadFailure failure;
    using Kind = ReadFailure::Kind;
    // Damaged compressed data can make a line of too many numbers before
    // the check at the end of the stream fails: the rest of the stream is
    // read, and the damage is what to report.
    const bool damaged = block.bad_row >= 0 && damaged_rest();
    if (block.bad_row >= 0 && !damaged) {
        const bool too_many = block.too_many >= 0;
        failure.kind = too_many ? Kind::too_many : Kind::not_a_number;
        failure.line = line_number(block, block.bad_row);
        failure.count = too_many ? block.too_many : 0;
        failure.field = too_many ? 0 : block.bad_field;
        // The line, cut short and without control bytes.
        const std::string_view line = line_text(block.line(block.bad_row));
        failure.excerpt.assign(line.substr(0, std::min<std::size_t>(line.size(), 60)));
        hide_control_bytes(failure.excerpt);
    } else if (block.failed || damaged) {
        failure.kind = damaged || compressed() ? Kind::damaged : Kind::read;
        failure.cause = block.cause;
    } else if (block.open_quote) {
        failure.kind = Kind::open_quote;
        failure.line = block.open_quote;
    }
    return failure;
}

ReadFailure DataReader::take_block(const LineBlock& block)
{
    if (ReadFailure stopped = failure(block))
        return stopped;
    missing_rows_ += block.missing_rows;
    if (block.text_rows == 0)
        return {};
    if (text_rows.count == 0)
        note_first_text_row(text_rows, block.line(block.first_text_row), line_number(block, block.first_text_row));
    text_rows.count += block.text_rows;
    return {};
}

void DataReader::warn_text_rows() const
{
    const TextRows& rows = text_rows;
    if (rows.count > 0)
        warning("%s: %lld %s text where numbers were expected (first at line %lld: \"%s\"); their missing values "
                "were read as 0\n",
                path_, rows.count, rows.count == 1 ? "row holds" : "rows hold", rows.first_line, rows.first.c_str());
    if (missing_rows_ > 0)
        warning("%s: %lld %s a missing value; %s written as NA\n", path_, missing_rows_,
                missing_rows_ == 1 ? "row holds" : "rows hold",
                missing_rows_ == 1 ? "its values are" : "their values are");
}
