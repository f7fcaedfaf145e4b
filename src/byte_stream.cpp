#include "byte_stream.h"

#include <archive.h>
#include <archive_entry.h>

#include <string_view>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

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

// Only the four formats are enabled: libarchive's other filters would also
// look at what comes out of a decompressor, and some of them start
// external programs.
bool enable_decompressors(archive* reader)
{
    return archive_read_support_filter_gzip(reader) == ARCHIVE_OK &&
           archive_read_support_filter_bzip2(reader) == ARCHIVE_OK &&
           archive_read_support_filter_xz(reader) == ARCHIVE_OK &&
           archive_read_support_filter_zstd(reader) == ARCHIVE_OK &&
           archive_read_support_format_raw(reader) == ARCHIVE_OK &&
           archive_read_support_format_empty(reader) == ARCHIVE_OK;
}

}  // namespace

ByteStream::ByteStream(std::FILE* file) : ByteStream(File(file, keep_open)) {}

ByteStream::ByteStream(File file) : file_(std::move(file)), archive_(nullptr, archive_read_free) {}

ByteStream ByteStream::open(const char* path)
{
    ByteStream stream(File(std::fopen(path, "r"), std::fclose));
    if (stream.file_) {
        int filter = filter_of(stream.file_.get());
        if (filter != ARCHIVE_FILTER_NONE)
            stream.start_decompression(filter);
    }
    return stream;
}

void ByteStream::start_decompression(int filter)
{
    compressed_ = true;
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

std::size_t ByteStream::read(char* into, std::size_t size)
{
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
