// Files as streams of bytes. A file whose first bytes are the magic number
// of gzip, bzip2, xz or zstd is decompressed while it is read, in constant
// memory: gzip through ISA-L, or zlib in a build without it (every member's
// header, CRC-32 and length checked, members one after another read as one
// stream), zstd through libzstd
// (frame checksums checked, frames one after another read as one stream,
// skippable frames passed over), bzip2 and xz through libarchive. Any other file is read as it is. The content decides,
// never the name: the first bytes are read from the stream itself and handed to the decompressor, so a pipe is
// recognized as a file is. A UTF-8 byte-order mark at the start of the (decompressed) text is skipped. Every reader of
// data files opens them here, so both programs read them alike.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <memory>

struct archive;
struct Inflater;
struct Unzstd;
struct ByteSource;
struct ReadAhead;

// A stream that closes itself.
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// The operand that names standard input.
inline bool names_standard_input(const char* path)
{
    return path[0] == '-' && path[1] == '\0';
}

class ByteStream {
public:
    // Reads `file` as it is (never decompressed) from where its descriptor
    // stands, without taking it over.
    explicit ByteStream(std::FILE* file);
    ByteStream(ByteStream&&) noexcept;
    ByteStream& operator=(ByteStream&&) noexcept;
    ~ByteStream();

    // Opens the file at `path` for reading ("-": standard input, not taken
    // over), decompressing it when its first bytes say so, on a thread of
    // its own ahead of the reader when the run may use more than one. A file
    // that cannot be opened gives !is_open(); a compressed file that cannot
    // be decompressed opens, and its first read fails. A FIFO is waited for
    // until a program opens it for writing, as any filter waits.
    static ByteStream open(const char* path);

    bool is_open() const;

    // The first bytes are the magic number of a compressed format.
    bool compressed() const { return compressed_; }

    // The size of a plain regular file; -1 for anything else.
    long long plain_size() const;
    // The size of the file read, compressed or not, when it is a regular
    // file; -1 for anything else (a pipe, a terminal).
    long long file_size() const;
    // The bytes taken from the file so far (of a compressed file, the
    // compressed ones), counted as they are read on whichever thread reads
    // them; null for a stream that is not open. It stays in place while the
    // stream moves.
    const std::atomic<long long>* consumed() const;

    // Reads up to `size` bytes into `into`; fewer only at the end of the
    // stream or after a failure.
    std::size_t read(char* into, std::size_t size);

    // A compressed stream is decompressed ahead of the reader in buffers of
    // this many bytes, each with this much room in front.
    static constexpr std::size_t kTakenSize = 1 << 20;
    static constexpr std::size_t kTakenFront = 1 << 16;

    // The next bytes of the stream taken without copying them: the buffer
    // they were decompressed into is exchanged for the caller's text.
    struct Taken {
        std::unique_ptr<char[]>& text;  // the caller's text, then the buffer
        std::size_t& capacity;          // its size, then the buffer's
        const char* keep_from;          // bytes to keep in front of the next
        std::size_t kept;               // (they may lie in `text`)
        std::size_t begin = 0;          // the kept bytes, then the next ones,
        std::size_t end = 0;            // lie at [begin, end) of the buffer
        bool last = false;              // they end the stream
    };
    // Hands over the next bytes when the stream is decompressed ahead and
    // the room in front of them takes the kept bytes; otherwise (and at the
    // end of the stream) false, with nothing read and `text` as it was. A
    // caller's text of the buffers' size is used again.
    bool take(Taken& taken);

    // A read error, or compressed data that are damaged or cut short.
    bool failed() const;

    // Reads the rest of a compressed stream: true when its data are damaged
    // or cut short. Damage can make wrong lines before the check at the end
    // of a compressed stream fails; a reader stopped by such a line asks
    // this to name the damage instead.
    bool damaged_rest();

private:
    using ArchiveHandle = std::unique_ptr<archive, int (*)(archive*)>;
    using InflaterHandle = std::unique_ptr<Inflater, void (*)(Inflater*)>;
    using UnzstdHandle = std::unique_ptr<Unzstd, void (*)(Unzstd*)>;
    using ReadAheadHandle = std::unique_ptr<ReadAhead, void (*)(ReadAhead*)>;

    // A descriptor below 0 gives a stream that is not open; `sniff` looks
    // at the first bytes for a compressed format.
    ByteStream(int fd, bool owned, bool sniff);
    // Sets up the decompressor for the filter the magic number named.
    void start_decompression(int filter);
    std::size_t inflate(char* into, std::size_t size);
    std::size_t unzstd(char* into, std::size_t size);
    std::size_t read_decoded(char* into, std::size_t size);

    std::unique_ptr<ByteSource> source_;  // the descriptor and its first bytes
    ArchiveHandle archive_;               // bzip2, xz; null otherwise
    InflaterHandle inflater_;             // gzip; null otherwise
    UnzstdHandle unzstd_;                 // zstd; null otherwise
    ReadAheadHandle ahead_;               // the stream decompressed on another thread; null otherwise
    bool compressed_ = false;
    bool failed_ = false;   // the decompressor failed
    bool ended_ = false;    // the decompressed stream has ended
    bool at_start_ = true;  // nothing read yet: a byte-order mark may come
};
