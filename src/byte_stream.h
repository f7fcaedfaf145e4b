// Files as streams of bytes. A file whose first bytes are the magic number
// of gzip, bzip2, xz or zstd is decompressed while it is read, in constant
// memory: gzip through zlib (every member's CRC-32 and length checked,
// members one after another read as one stream), zstd through libzstd
// (frame checksums checked, frames one after another read as one stream,
// skippable frames passed over), bzip2 and xz through libarchive. Any other file is read as it is, straight through stdio. The
// content decides, never the name. Every reader of data files opens them
// here, so each pass of each program reads them alike.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

struct archive;
struct Inflater;
struct Unzstd;

// A stream that closes itself.
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

class ByteStream {
public:
    // Reads `file` as it is, without taking it over.
    explicit ByteStream(std::FILE* file);

    // Opens the file at `path` for reading, decompressing it when its first
    // bytes say so. A file that cannot be opened gives !is_open(); a
    // compressed file that cannot be decompressed opens, and its first read
    // fails. A FIFO opens at once, writer or not (readable_once() tells),
    // unless `wait_for_writer`, for a reader that reads its input once.
    static ByteStream open(const char* path, bool wait_for_writer = false);

    // Reads the file at `path` to its end: true when it is compressed and
    // its data are damaged or cut short. Damage can make wrong lines before
    // the check at the end of a compressed stream fails; a reader stopped by
    // such a line asks this to name the damage instead.
    static bool damaged(const char* path);

    bool is_open() const { return file_ != nullptr; }

    // A pipe, a FIFO or a socket: its bytes can be read only once. Checked
    // before anything is read, so nothing of the stream is lost to it.
    bool readable_once() const;

    // The first bytes are the magic number of a compressed format.
    bool compressed() const { return compressed_; }

    // Reads up to `size` bytes into `into`; fewer only at the end of the
    // stream or after a failure.
    std::size_t read(char* into, std::size_t size);

    // A read error, or compressed data that are damaged or cut short.
    bool failed() const { return failed_ || (file_ && std::ferror(file_.get()) != 0); }

private:
    using ArchiveHandle = std::unique_ptr<archive, int (*)(archive*)>;
    using InflaterHandle = std::unique_ptr<Inflater, void (*)(Inflater*)>;
    using UnzstdHandle = std::unique_ptr<Unzstd, void (*)(Unzstd*)>;

    explicit ByteStream(File file);
    // Sets up the decompressor for the filter the magic number named.
    void start_decompression(int filter);
    std::size_t inflate(char* into, std::size_t size);
    std::size_t unzstd(char* into, std::size_t size);

    File file_;
    ArchiveHandle archive_;    // bzip2, xz; null otherwise
    InflaterHandle inflater_;  // gzip; null otherwise
    UnzstdHandle unzstd_;      // zstd; null otherwise
    bool compressed_ = false;
    bool failed_ = false;      // the decompressor failed
    bool ended_ = false;       // the decompressed stream has ended
};
