#include "byte_stream.h"

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>
#include <zstd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// zlib's inflate over a gzip file. Its input is read straight from the file
// descriptor in large blocks and its output goes straight into the
// caller's buffer, so a byte is copied once: decompressing costs what one
// zlib decompression costs.
struct Inflater {
    static constexpr std::size_t kInput = 1 << 18;
    z_stream stream{};
    std::unique_ptr<unsigned char[]> input = std::make_unique_for_overwrite<unsigned char[]>(kInput);
    bool in_member = true;  // the end of the current member is still to come
};

// libzstd's streaming decoder over a zstd file, read and written as the
// Inflater does. Frames one after another are read as one stream, skippable
// frames are passed over, and a frame that carries a checksum is checked
// against what it decompressed to.
struct Unzstd {
    ZSTD_DCtx* context = ZSTD_createDCtx();
    std::unique_ptr<unsigned char[]> input = std::make_unique_for_overwrite<unsigned char[]>(ZSTD_DStreamInSize());
    ZSTD_inBuffer in{input.get(), 0, 0};
    bool in_frame = false;  // the end of the current frame is still to come
    bool hungry = true;     // all output so far given out: the next call needs input
};

namespace {

using namespace std::string_view_literals;

// A compressed format as its first bytes show it: the bytes under `mask`
// equal `magic`. The list holds every start the decompressors accept, so a
// file it does not name is never decompressed, not even within another.
struct Signature {
    std::string_view magic;
    std::string_view mask;
    int filter;
};

constexpr Signature kSignatures[] = {
    {"\x1f\x8b"sv, "\xff\xff"sv, ARCHIVE_FILTER_GZIP},
    {"BZh"sv, "\xff\xff\xff"sv, ARCHIVE_FILTER_BZIP2},
    {"\xfd" "7zXZ\0"sv, "\xff\xff\xff\xff\xff\xff"sv, ARCHIVE_FILTER_XZ},
    {"\x28\xb5\x2f\xfd"sv, "\xff\xff\xff\xff"sv, ARCHIVE_FILTER_ZSTD},
    // A zstd file may open with a skippable frame.
    {"\x50\x2a\x4d\x18"sv, "\xf0\xff\xff\xff"sv, ARCHIVE_FILTER_ZSTD},
};
constexpr std::size_t kLongestMagic = 6;

// The filter that the first bytes of `file` name, or ARCHIVE_FILTER_NONE.
// pread leaves the file position alone and fails on a pipe, so a file read
// as it is starts from its first byte and a pipe loses nothing.
int filter_of(std::FILE* file)
{
    char head[kLongestMagic];
    ssize_t got = ::pread(::fileno(file), head, sizeof head, 0);
    for (const Signature& signature : kSignatures) {
        bool match = got >= static_cast<ssize_t>(signature.magic.size());
        for (std::size_t i = 0; match && i < signature.magic.size(); ++i)
            match = (static_cast<unsigned char>(head[i]) & static_cast<unsigned char>(signature.mask[i])) ==
                    static_cast<unsigned char>(signature.magic[i]);
        if (match)
            return signature.filter;
    }
    return ARCHIVE_FILTER_NONE;
}

int keep_open(std::FILE*)
{
    return 0;
}

void end_inflater(Inflater* inflater)
{
    inflateEnd(&inflater->stream);
    delete inflater;
}

void end_unzstd(Unzstd* unzstd)
{
    ZSTD_freeDCtx(unzstd->context);
    delete unzstd;
}

// Reads what the descriptor has, up to `size` bytes; -1 on an error.
ssize_t read_some(int fd, unsigned char* into, std::size_t size)
{
    ssize_t got;
    do
        got = ::read(fd, into, size);
    while (got < 0 && errno == EINTR);
    return got;
}

// Only the formats libarchive reads are enabled: its other filters would also
// look at what comes out of a decompressor, and some of them start
// external programs.
bool enable_decompressors(archive* reader)
{
    return archive_read_support_filter_gzip(reader) == ARCHIVE_OK &&
           archive_read_support_filter_bzip2(reader) == ARCHIVE_OK &&
           archive_read_support_filter_xz(reader) == ARCHIVE_OK &&
           archive_read_support_format_raw(reader) == ARCHIVE_OK &&
           archive_read_support_format_empty(reader) == ARCHIVE_OK;
}

}  // namespace

ByteStream::ByteStream(std::FILE* file) : ByteStream(File(file, keep_open)) {}

ByteStream::ByteStream(File file)
    : file_(std::move(file)),
      archive_(nullptr, archive_read_free),
      inflater_(nullptr, end_inflater),
      unzstd_(nullptr, end_unzstd)
{
}

ByteStream ByteStream::open(const char* path, bool wait_for_writer)
{
    // A FIFO without a writer would hold a blocking open forever, before
    // anything could look at the file's type: open without waiting, then
    // read as usual.
    int fd = ::open(path, O_RDONLY | O_CLOEXEC | (wait_for_writer ? 0 : O_NONBLOCK));
    if (fd >= 0 && !wait_for_writer)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fd >= 0 ? ::fdopen(fd, "r") : nullptr;
    if (fd >= 0 && !file)
        ::close(fd);
    ByteStream stream(File(file, std::fclose));
    if (stream.file_) {
        int filter = filter_of(stream.file_.get());
        if (filter != ARCHIVE_FILTER_NONE)
            stream.start_decompression(filter);
    }
    return stream;
}

bool ByteStream::damaged(const char* path)
{
    ByteStream stream = open(path);
    char buffer[1 << 16];
    while (stream.compressed() && stream.read(buffer, sizeof buffer) == sizeof buffer) {
    }
    return stream.compressed() && stream.failed();
}

void ByteStream::start_decompression(int filter)
{
    compressed_ = true;
    if (filter == ARCHIVE_FILTER_GZIP) {
        // 16 + the largest window: gzip members only, each one's trailer
        // checked against what it decompressed to.
        inflater_.reset(new Inflater);
        failed_ = inflateInit2(&inflater_->stream, 16 + MAX_WBITS) != Z_OK;
        return;
    }
    if (filter == ARCHIVE_FILTER_ZSTD) {
        unzstd_.reset(new Unzstd);
        failed_ = unzstd_->context == nullptr;
        return;
    }
    archive_.reset(archive_read_new());
    archive* reader = archive_.get();
    constexpr std::size_t kBlock = 1 << 16;
    // The raw format hands on the decompressed bytes as one entry; the
    // empty one stands for a file that decompresses to nothing.
    failed_ = !reader || !enable_decompressors(reader) ||
              archive_read_open_fd(reader, ::fileno(file_.get()), kBlock) != ARCHIVE_OK;
    if (failed_)
        return;
    archive_entry* entry;
    int status = archive_read_next_header(reader, &entry);
    ended_ = status == ARCHIVE_EOF;
    // A file that has the magic number but not the rest of the format's
    // header is passed on undecompressed by libarchive: that is damage too.
    int filters = archive_filter_count(reader);
    failed_ = (status != ARCHIVE_OK && status != ARCHIVE_EOF) || filters < 2 ||
              archive_filter_code(reader, filters - 2) != filter;
}

bool ByteStream::readable_once() const
{
    struct stat status;
    return ::fstat(::fileno(file_.get()), &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));
}

std::size_t ByteStream::inflate(char* into, std::size_t size)
{
    z_stream& stream = inflater_->stream;
    std::size_t got = 0;
    while (got < size && !failed_ && !ended_) {
        if (stream.avail_in == 0) {
            ssize_t read = read_some(::fileno(file_.get()), inflater_->input.get(), Inflater::kInput);
            // The file may end only where a member ends.
            ended_ = read == 0;
            failed_ = read < 0 || (ended_ && inflater_->in_member);
            if (read <= 0)
                break;
            stream.next_in = inflater_->input.get();
            stream.avail_in = static_cast<uInt>(read);
        }
        if (!inflater_->in_member) {
            // More bytes after a member: the next member, whose header must
            // be sound like the first one's.
            inflateReset(&stream);
            inflater_->in_member = true;
        }
        stream.next_out = reinterpret_cast<Bytef*>(into + got);
        stream.avail_out = static_cast<uInt>(std::min<std::size_t>(size - got, UINT_MAX));
        const uInt room = stream.avail_out;
        const int status = ::inflate(&stream, Z_NO_FLUSH);
        got += room - stream.avail_out;
        // Z_STREAM_END comes only once the CRC-32 and the length in the
        // trailer match what came out.
        if (status == Z_STREAM_END)
            inflater_->in_member = false;
        else
            failed_ = status != Z_OK;
    }
    return got;
}

std::size_t ByteStream::unzstd(char* into, std::size_t size)
{
    Unzstd& decoder = *unzstd_;
    std::size_t got = 0;
    while (got < size && !failed_ && !ended_) {
        if (decoder.in.pos == decoder.in.size && decoder.hungry) {
            ssize_t read = read_some(::fileno(file_.get()), decoder.input.get(), ZSTD_DStreamInSize());
            // The file may end only where a frame ends.
            ended_ = read == 0;
            failed_ = read < 0 || (ended_ && decoder.in_frame);
            if (read <= 0)
                break;
            decoder.in = {decoder.input.get(), static_cast<std::size_t>(read), 0};
        }
        ZSTD_outBuffer out{into + got, size - got, 0};
        const std::size_t status = ZSTD_decompressStream(decoder.context, &out, &decoder.in);
        got += out.pos;
        // 0 once a frame has ended, its checksum (if it has one) matched
        // and all of it is given out.
        failed_ = ZSTD_isError(status);
        decoder.in_frame = status != 0;
        decoder.hungry = out.pos < out.size;
    }
    return got;
}

std::size_t ByteStream::read(char* into, std::size_t size)
{
    if (inflater_)
        return inflate(into, size);
    if (unzstd_)
        return unzstd(into, size);
    if (!archive_)
        return std::fread(into, 1, size, file_.get());
    std::size_t got = 0;
    while (got < size && !failed_ && !ended_) {
        la_ssize_t part = archive_read_data(archive_.get(), into + got, size - got);
        failed_ = part < 0;
        ended_ = part == 0;
        if (part > 0)
            got += static_cast<std::size_t>(part);
    }
    return got;
}
