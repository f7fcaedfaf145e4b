// Zero-filled storage whose failure to allocate is a fatal error at the
// caller's site, with the byte count it asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "common/console.h"

// Byte count of `count` elements of `size` bytes, or nothing when it overflows.
inline bool byte_count(std::uint64_t count, std::uint64_t size, std::uint64_t& bytes)
{
    if (size != 0 && count > std::numeric_limits<std::uint64_t>::max() / size)
        return false;
    bytes = count * size;
    return bytes <= static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max());
}

template <class T>
std::vector<T> allocate_zeroed(std::uint64_t count, int site, const char* text = "Error %s %d: allocating %lld bytes\n")
{
    std::uint64_t bytes = 0;
    bool fits = byte_count(count, sizeof(T), bytes);
    try {
        if (fits)
            return std::vector<T>(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    long long shown = fits ? static_cast<long long>(bytes) : std::numeric_limits<long long>::max();
    error(text, kErrorLabel, site, shown);
}
