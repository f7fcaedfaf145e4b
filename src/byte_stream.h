// Files as streams of bytes. A file whose first bytes are the magic number
// of gzip, bzip2, xz or zstd is decompressed while it is read (through
// libarchive, in constant memory); any other file is read as it is, straight
// through stdio. The content decides, never the name. Every reader of data
// files opens them here, so each pass of each program reads them alike.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

struct archive;

// A stream that closes itself.
using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

class ByteStream {
public:
    // Reads `file` as it is, without taking it over.
    explicit ByteStream(std::FILE* file);

    // Opens the file at `path` for reading, decompressing it when its first
    // bytes say so. A file that cannot be opened gives !is_open(); a
    // compressed file that cannot be decompressed opens, and its first read
    // fails.
    static ByteStream open(const char* path);

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

    explicit ByteStream(File file);
    // Sets up the decompressor for the filter the magic number named.
    void start_decompression(int filter);

    File file_;
    ArchiveHandle archive_;    // null for a file read as it is
    bool compressed_ = false;
    bool failed_ = false;      // the decompressor failed
    bool ended_ = false;       // the decompressed stream has ended
};
