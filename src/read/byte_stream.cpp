#include "read/byte_stream.h"

#include "common/parallel.h"

#include <archive.h>
#include <archive_entry.h>
#include <zstd.h>
#if SCORIX_ISAL
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>
#else
#include <zlib.h>
#endif

#include <algorithm>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// A gzip file, member after member. The members' headers and trailers are
// read here, alike for either decoder of the deflate data between them:
// ISA-L's when the build has it (about four times as fast), zlib's
// otherwise. The input is read straight from the file descriptor in large
// blocks and the output goes straight into the caller's buffer, so a byte is
// copied once.
struct Inflater {
    static constexpr std::size_t kInput = 1 << 18;
    // Room in front of the input for the bytes a decoder read past the end
    // of a member's deflate data and hands back (at most 8).
    static constexpr std::size_t kBack = 8;
#if SCORIX_ISAL
    inflate_state state;
#else
    z_stream stream{};
#endif
    std::unique_ptr<unsigned char[]> input = std::make_unique_for_overwrite<unsigned char[]>(kBack + kInput);
    unsigned char* next = nullptr;  // the input not decoded yet
    std::size_t avail = 0;          // its size
    std::uint32_t crc = 0;          // the CRC-32 of the member's output so far
    std::uint32_t length = 0;       // and its length, modulo 2^32 as the trailer has it
    bool in_member = false;         // within a member's deflate data
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

// The descriptor a stream reads, and the first bytes already taken from it
// to see what it holds: every reader gets those bytes first, so nothing is
// read twice and nothing needs a seek (a pipe has none). It stays in one
// place while its stream moves, for libarchive's callback.
struct ByteSource {
    static constexpr std::size_t kHead = 6;  // the longest magic number
    static constexpr std::size_t kBlock = 1 << 16;
    ByteSource(int descriptor, bool own) : fd(descriptor), owned(own) {}
    int fd;
    bool owned;
    unsigned char head[kHead];
    std::size_t head_size = 0;
    std::size_t head_used = 0;
    bool failed = false;                     // a read failed
    std::atomic<long long> consumed{0};      // bytes read from the descriptor
    int cause = 0;                           // its errno, given again by every later read
    std::unique_ptr<unsigned char[]> block;  // libarchive's input

    ~ByteSource()
    {
        if (owned)
            ::close(fd);
    }
    // Reads what the stream has, up to `size` bytes: the first bytes, then
    // the descriptor. 0 at the end and after a failure.
    std::size_t read_some(unsigned char* into, std::size_t size);
    // Reads `size` bytes, fewer only at the end or after a failure.
    std::size_t read_full(unsigned char* into, std::size_t size);
};

// A compressed stream decompressed on a thread of its own, a few buffers
// ahead of the reader, so that decompressing overlaps the splitting and
// converting of the lines. The buffers are taken in turn: the thread fills
// those the reader has given back; the reader copies out of the first one
// the thread has filled, or takes that buffer whole and gives another of the
// same size in its place. The bytes, the end and the failure are those of
// the stream read on the reader's thread.
struct ReadAhead {
    static constexpr int kBuffers = 4;
    static constexpr std::size_t kSize = ByteStream::kTakenSize;
    // The bytes of a buffer start this far in, leaving room for what the
    // reader keeps in front of them when it takes the buffer whole.
    static constexpr std::size_t kFront = ByteStream::kTakenFront;

    explicit ReadAhead(ByteStream decompressed) : stream(std::move(decompressed)) {}
    ~ReadAhead();
    // The thread's work: fills the buffers in turn until the stream ends.
    void fill();
    // Waits for the first filled buffer; false once the stream has ended or
    // failed, and then `failed` says which.
    bool wait_for_bytes(bool& failed);
    // Reads up to `size` bytes into `into`; fewer only once the stream has
    // ended or failed, and then `failed` says which.
    std::size_t read(char* into, std::size_t size, bool& failed);
    // See ByteStream::take.
    bool take(ByteStream::Taken& taken, bool& failed);

    ByteStream stream;  // read on the thread only, once it has started
    std::unique_ptr<char[]> buffers[kBuffers];
    std::size_t sizes[kBuffers] = {};
    std::mutex mutex;
    std::condition_variable changed;
    int filled = 0;          // buffers filled and not yet given back, from `first` on
    int first = 0;           // the buffer the reader copies from
    std::size_t copied = 0;  // the bytes of it copied out so far
    bool finished = false;   // the last buffer is filled: the stream has ended or failed
    bool failed = false;     // it failed
    bool stop = false;       // the reader is gone: the thread ends
    std::thread thread;
};

void ReadAhead::fill()
{
    for (int next = 0;; next = (next + 1) % kBuffers) {
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [this] { return stop || filled < kBuffers; });
            if (stop)
                return;
        }
        if (!buffers[next])
            buffers[next] = std::make_unique_for_overwrite<char[]>(kFront + kSize);
        const std::size_t got = stream.read(buffers[next].get() + kFront, kSize);
        {
            std::lock_guard lock(mutex);
            sizes[next] = got;
            ++filled;
            finished = got < kSize;
            failed = finished && stream.failed();
        }
        changed.notify_all();
        if (got < kSize)
            return;
    }
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard lock(mutex);
        stop = true;
    }
    changed.notify_all();
    if (thread.joinable())
        thread.join();
}

bool ReadAhead::wait_for_bytes(bool& stream_failed)
{
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return filled > 0 || finished; });
    if (filled == 0)
        stream_failed = failed;
    return filled > 0;
}

std::size_t ReadAhead::read(char* into, std::size_t size, bool& stream_failed)
{
    std::size_t got = 0;
    while (got < size && wait_for_bytes(stream_failed)) {
        // The first filled buffer is the reader's until it is given back.
        const std::size_t part = std::min(size - got, sizes[first] - copied);
        std::memcpy(into + got, buffers[first].get() + kFront + copied, part);
        got += part;
        copied += part;
        if (copied == sizes[first]) {
            {
                std::lock_guard lock(mutex);
                --filled;
                first = (first + 1) % kBuffers;
                copied = 0;
            }
            changed.notify_all();
        }
    }
    return got;
}

bool ReadAhead::take(ByteStream::Taken& taken, bool& stream_failed)
{
    if (!wait_for_bytes(stream_failed))
        return false;
    const std::size_t begin = kFront + copied;
    const std::size_t end = kFront + sizes[first];
    // A buffer with nothing left is the last one: reading it ends the stream.
    if (begin == end || taken.kept > begin)
        return false;
    std::unique_ptr<char[]>& buffer = buffers[first];
    if (taken.kept)
        std::memcpy(buffer.get() + begin - taken.kept, taken.keep_from, taken.kept);
    // The reader's buffer takes the place of this one, to be filled in its
    // turn, when it is of the same size; otherwise the thread makes one.
    const bool same_size = taken.capacity == kFront + kSize;
    std::swap(buffer, taken.text);
    taken.capacity = kFront + kSize;
    if (!same_size)
        buffer.reset();
    taken.begin = begin - taken.kept;
    taken.end = end;
    taken.last = sizes[first] < kSize;
    {
        std::lock_guard lock(mutex);
        if (taken.last)
            stream_failed = failed;
        --filled;
        first = (first + 1) % kBuffers;
        copied = 0;
    }
    changed.notify_all();
    return true;
}

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
    {"\xfd\x37zXZ\0"sv, "\xff\xff\xff\xff\xff\xff"sv, ARCHIVE_FILTER_XZ},
    {"\x28\xb5\x2f\xfd"sv, "\xff\xff\xff\xff"sv, ARCHIVE_FILTER_ZSTD},
    // A zstd file may open with a skippable frame.
    {"\x50\x2a\x4d\x18"sv, "\xf0\xff\xff\xff"sv, ARCHIVE_FILTER_ZSTD},
};
constexpr std::string_view kByteOrderMark = "\xef\xbb\xbf";

// The filter that the first `got` bytes name, or ARCHIVE_FILTER_NONE.
int filter_of(const unsigned char* head, std::size_t got)
{
    for (const Signature& signature : kSignatures) {
        bool match = got >= signature.magic.size();
        for (std::size_t i = 0; match && i < signature.magic.size(); ++i)
            match = (static_cast<unsigned char>(head[i]) & static_cast<unsigned char>(signature.mask[i])) ==
                    static_cast<unsigned char>(signature.magic[i]);
        if (match)
            return signature.filter;
    }
    return ARCHIVE_FILTER_NONE;
}

// The decoders of deflate data. The two differ only here: each decodes from
// the Inflater's input into `into` (`room` bytes at most), adds what it wrote
// to `wrote`, and at the end of a member's deflate data leaves the input
// right behind them.
enum class Decoded { more, end, damaged };

#if SCORIX_ISAL
bool open_decoder(Inflater& inflater)
{
    isal_inflate_init(&inflater.state);
    return true;
}

void reset_decoder(Inflater& inflater)
{
    isal_inflate_reset(&inflater.state);
    inflater.state.crc_flag = ISAL_DEFLATE;
}

void end_decoder(Inflater&) {}

Decoded decode(Inflater& inflater, unsigned char* into, std::size_t room, std::size_t& wrote)
{
    inflate_state& state = inflater.state;
    state.next_in = inflater.next;
    state.avail_in = static_cast<std::uint32_t>(inflater.avail);
    state.next_out = into;
    state.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(room, UINT32_MAX));
    const int status = isal_inflate(&state);
    wrote += static_cast<std::size_t>(state.next_out - into);
    inflater.next = state.next_in;
    inflater.avail = state.avail_in;
    if (status < 0)
        return Decoded::damaged;
    if (state.block_state != ISAL_BLOCK_FINISH)
        return Decoded::more;
    // ISA-L takes its input 8 bytes at a time: the whole bytes it holds past
    // the deflate data (the bits short of a byte pad the last one) go back in
    // front of the input, which has room for them.
    const int back = state.read_in_length / 8;
    inflater.next -= back;
    inflater.avail += static_cast<std::size_t>(back);
    for (int i = 0; i < back; ++i)
        inflater.next[i] = static_cast<unsigned char>(state.read_in >> (state.read_in_length % 8 + 8 * i));
    return Decoded::end;
}

std::uint32_t update_crc(std::uint32_t crc, const unsigned char* bytes, std::size_t size)
{
    return crc32_gzip_refl(crc, bytes, size);
}
#else
bool open_decoder(Inflater& inflater)
{
    return inflateInit2(&inflater.stream, -MAX_WBITS) == Z_OK;  // raw deflate data
}

void reset_decoder(Inflater& inflater)
{
    inflateReset(&inflater.stream);
}

void end_decoder(Inflater& inflater)
{
    inflateEnd(&inflater.stream);
}

Decoded decode(Inflater& inflater, unsigned char* into, std::size_t room, std::size_t& wrote)
{
    z_stream& stream = inflater.stream;
    stream.next_in = inflater.next;
    stream.avail_in = static_cast<uInt>(inflater.avail);
    stream.next_out = into;
    stream.avail_out = static_cast<uInt>(std::min<std::size_t>(room, UINT_MAX));
    const int status = ::inflate(&stream, Z_NO_FLUSH);
    wrote += static_cast<std::size_t>(stream.next_out - into);
    inflater.next = stream.next_in;
    inflater.avail = stream.avail_in;
    // Z_BUF_ERROR: no input left to go on with.
    return status == Z_STREAM_END ? Decoded::end
           : status == Z_OK || status == Z_BUF_ERROR ? Decoded::more
                                                     : Decoded::damaged;
}

std::uint32_t update_crc(std::uint32_t crc, const unsigned char* bytes, std::size_t size)
{
    return static_cast<std::uint32_t>(crc32_z(crc, bytes, size));
}
#endif

void end_inflater(Inflater* inflater)
{
    end_decoder(*inflater);
    delete inflater;
}

// Reads more of the file behind the room in front; false at the end of the
// file or on a read error.
bool refill(Inflater& inflater, ByteSource& source)
{
    inflater.next = inflater.input.get() + Inflater::kBack;
    inflater.avail = source.read_some(inflater.next, Inflater::kInput);
    return inflater.avail > 0;
}

// The next byte of the file, or -1 at its end.
int next_byte(Inflater& inflater, ByteSource& source)
{
    if (inflater.avail == 0 && !refill(inflater, source))
        return -1;
    --inflater.avail;
    return *inflater.next++;
}

// Reads a member's header and sets the decoder up for its data: false when
// the header is cut short or not one zlib accepts (another magic number or
// method, a reserved flag set, a header CRC that does not match).
bool start_member(Inflater& inflater, ByteSource& source)
{
    std::uint32_t crc = 0;
    bool cut = false;
    const auto byte = [&] {
        const int got = next_byte(inflater, source);
        const auto value = static_cast<unsigned char>(got);
        cut = cut || got < 0;
        crc = update_crc(crc, &value, 1);
        return value;
    };
    // The magic number, the method (deflate), the flags, then the time, the
    // compressor's flags and the system, which nothing checks.
    unsigned char fixed[10];
    for (unsigned char& value : fixed)
        value = byte();
    const unsigned flags = fixed[3];
    if (cut || fixed[0] != 0x1f || fixed[1] != 0x8b || fixed[2] != 8 || (flags & 0xe0) != 0)
        return false;
    if (flags & 0x04) {  // extra fields: their length, then as many bytes
        std::size_t extra = byte();
        extra |= std::size_t{byte()} << 8;
        while (extra-- > 0 && !cut)
            byte();
    }
    for (const unsigned text : {0x08u, 0x10u})  // a name, a comment: up to a zero byte
        while ((flags & text) && byte() != 0 && !cut) {
        }
    if (flags & 0x02) {  // the low half of the header's CRC-32
        const std::uint32_t expected = crc & 0xffff;
        std::uint32_t stored = byte();
        stored |= std::uint32_t{byte()} << 8;
        cut = cut || stored != expected;
    }
    reset_decoder(inflater);
    inflater.crc = 0;
    inflater.length = 0;
    inflater.in_member = !cut;
    return !cut;
}

// Reads a member's trailer: true when it is whole and its CRC-32 and length
// are those of what the member decompressed to.
bool end_member(Inflater& inflater, ByteSource& source)
{
    inflater.in_member = false;
    std::uint32_t fields[2] = {};
    for (int i = 0; i < 8; ++i) {
        const int got = next_byte(inflater, source);
        if (got < 0)
            return false;
        fields[i / 4] |= static_cast<std::uint32_t>(got) << (8 * (i % 4));
    }
    return fields[0] == inflater.crc && fields[1] == inflater.length;
}

void end_unzstd(Unzstd* unzstd)
{
    ZSTD_freeDCtx(unzstd->context);
    delete unzstd;
}

void end_read_ahead(ReadAhead* ahead)
{
    delete ahead;
}

// libarchive's input: what the stream has, a block at a time.
la_ssize_t archive_input(archive* reader, void* client, const void** buffer)
{
    auto* source = static_cast<ByteSource*>(client);
    *buffer = source->block.get();
    const std::size_t got = source->read_some(source->block.get(), ByteSource::kBlock);
    if (source->failed)
        archive_set_error(reader, errno, "read error");
    return source->failed ? -1 : static_cast<la_ssize_t>(got);
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

std::size_t ByteSource::read_some(unsigned char* into, std::size_t size)
{
    if (head_used < head_size) {
        const std::size_t part = std::min(size, head_size - head_used);
        std::memcpy(into, head + head_used, part);
        head_used += part;
        return part;
    }
    if (failed) {
        errno = cause;
        return 0;
    }
    ssize_t got;
    do
        got = ::read(fd, into, size);
    while (got < 0 && errno == EINTR);
    failed = got < 0;
    cause = failed ? errno : 0;
    if (got > 0)
        consumed.fetch_add(got, std::memory_order_relaxed);
    return got < 0 ? 0 : static_cast<std::size_t>(got);
}

std::size_t ByteSource::read_full(unsigned char* into, std::size_t size)
{
    std::size_t got = 0;
    while (got < size) {
        const std::size_t part = read_some(into + got, size - got);
        if (part == 0)
            break;
        got += part;
    }
    return got;
}

ByteStream::ByteStream(std::FILE* file) : ByteStream(::fileno(file), false, false) {}

ByteStream::ByteStream(int fd, bool owned, bool sniff)
    : source_(fd >= 0 ? new ByteSource(fd, owned) : nullptr),
      archive_(nullptr, archive_read_free),
      inflater_(nullptr, end_inflater),
      unzstd_(nullptr, end_unzstd),
      ahead_(nullptr, end_read_ahead)
{
    if (!source_ || !sniff)
        return;
    // The first bytes tell the format; they are read once, here, and handed
    // on to whichever reader the format takes.
    source_->head_size = source_->read_full(source_->head, ByteSource::kHead);
    const int filter = filter_of(source_->head, source_->head_size);
    if (filter != ARCHIVE_FILTER_NONE)
        start_decompression(filter);
}

ByteStream::ByteStream(ByteStream&&) noexcept = default;
ByteStream& ByteStream::operator=(ByteStream&&) noexcept = default;
ByteStream::~ByteStream() = default;

ByteStream ByteStream::open(const char* path)
{
    ByteStream stream = names_standard_input(path) ? ByteStream(STDIN_FILENO, false, true)
                                                   : ByteStream(::open(path, O_RDONLY | O_CLOEXEC), true, true);
    if (!stream.compressed_ || thread_count() == 1)
        return stream;
    auto ahead = std::make_unique<ReadAhead>(std::move(stream));
    try {
        ahead->thread = std::thread(&ReadAhead::fill, ahead.get());
    } catch (const std::system_error&) {
        return std::move(ahead->stream);  // decompressed on the reading thread after all
    }
    ByteStream reader(-1, false, false);
    reader.compressed_ = true;
    reader.at_start_ = false;  // the byte-order mark is the inner stream's to drop
    reader.ahead_.reset(ahead.release());
    return reader;
}

bool ByteStream::is_open() const
{
    return source_ != nullptr || ahead_ != nullptr;
}

long long ByteStream::plain_size() const
{
    struct stat status;
    if (!source_ || compressed_ || ::fstat(source_->fd, &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return status.st_size;
}

long long ByteStream::file_size() const
{
    if (ahead_)
        return ahead_->stream.file_size();
    struct stat status;
    if (!source_ || ::fstat(source_->fd, &status) != 0 || !S_ISREG(status.st_mode))
        return -1;
    return status.st_size;
}

const std::atomic<long long>* ByteStream::consumed() const
{
    if (ahead_)
        return ahead_->stream.consumed();
    return source_ ? &source_->consumed : nullptr;
}

bool ByteStream::failed() const
{
    return failed_ || (source_ && source_->failed);
}

bool ByteStream::damaged_rest()
{
    char rest[1 << 16];
    while (compressed_ && read(rest, sizeof rest) == sizeof rest) {
    }
    return compressed_ && failed();
}

void ByteStream::start_decompression(int filter)
{
    compressed_ = true;
    if (filter == ARCHIVE_FILTER_GZIP) {
        inflater_.reset(new Inflater);
        failed_ = !open_decoder(*inflater_);
        return;
    }
    if (filter == ARCHIVE_FILTER_ZSTD) {
        unzstd_.reset(new Unzstd);
        failed_ = unzstd_->context == nullptr;
        return;
    }
    archive_.reset(archive_read_new());
    archive* reader = archive_.get();
    // The raw format hands on the decompressed bytes as one entry; the
    // empty one stands for a file that decompresses to nothing.
    source_->block = std::make_unique_for_overwrite<unsigned char[]>(ByteSource::kBlock);
    failed_ = !reader || !enable_decompressors(reader) ||
              archive_read_open(reader, source_.get(), nullptr, archive_input, nullptr) != ARCHIVE_OK;
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

std::size_t ByteStream::inflate(char* into, std::size_t size)
{
    Inflater& inflater = *inflater_;
    ByteSource& source = *source_;
    auto* out = reinterpret_cast<unsigned char*>(into);
    std::size_t got = 0;
    while (got < size && !failed_ && !ended_) {
        if (!inflater.in_member) {
            // Between members: the end of the file, or another member,
            // whose header must be sound like the first one's.
            ended_ = inflater.avail == 0 && !refill(inflater, source);
            failed_ = source.failed || (!ended_ && !start_member(inflater, source));
            continue;
        }
        // The file may end only where a member ends: with the input used up,
        // a decoder that cannot go on means the file was cut short.
        const bool drained = inflater.avail == 0 && !refill(inflater, source);
        const std::size_t from = got;
        const Decoded decoded = decode(inflater, out + from, size - from, got);
        inflater.crc = update_crc(inflater.crc, out + from, got - from);
        inflater.length += static_cast<std::uint32_t>(got - from);
        failed_ = decoded == Decoded::damaged || source.failed || (drained && decoded == Decoded::more && got == from);
        if (decoded == Decoded::end)
            failed_ = !end_member(inflater, source) || failed_;
    }
    return got;
}

std::size_t ByteStream::unzstd(char* into, std::size_t size)
{
    Unzstd& decoder = *unzstd_;
    std::size_t got = 0;
    while (got < size && !failed_ && !ended_) {
        if (decoder.in.pos == decoder.in.size && decoder.hungry) {
            const std::size_t read = source_->read_some(decoder.input.get(), ZSTD_DStreamInSize());
            // The file may end only where a frame ends.
            ended_ = read == 0;
            failed_ = source_->failed || (ended_ && decoder.in_frame);
            if (read == 0)
                break;
            decoder.in = {decoder.input.get(), read, 0};
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

std::size_t ByteStream::read_decoded(char* into, std::size_t size)
{
    if (ahead_)
        return ahead_->read(into, size, failed_);
    if (inflater_)
        return inflate(into, size);
    if (unzstd_)
        return unzstd(into, size);
    if (!archive_)
        return source_ ? source_->read_full(reinterpret_cast<unsigned char*>(into), size) : 0;
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

bool ByteStream::take(Taken& taken)
{
    return ahead_ && ahead_->take(taken, failed_);
}

std::size_t ByteStream::read(char* into, std::size_t size)
{
    if (!std::exchange(at_start_, false) || size < kByteOrderMark.size())
        return read_decoded(into, size);
    // The text starts here: a byte-order mark in front of it goes, and the
    // bytes behind make up for it.
    std::size_t got = read_decoded(into, size);
    if (std::string_view(into, got).starts_with(kByteOrderMark)) {
        got -= kByteOrderMark.size();
        std::memmove(into, into + kByteOrderMark.size(), got);
        if (got == size - kByteOrderMark.size())
            got += read_decoded(into + got, kByteOrderMark.size());
    }
    return got;
}
