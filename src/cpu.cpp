#include "cpu.h"

#include <algorithm>
#include <atomic>

namespace {

Vectors supported()
{
#if defined(__x86_64__)
    // The compiler's checks include the operating system's support for the
    // wider registers, not only the processor's.
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma") || !__builtin_cpu_supports("popcnt") ||
        !__builtin_cpu_supports("ssse3"))
        return Vectors::none;
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") ? Vectors::avx512 : Vectors::avx2;
#else
    return Vectors::none;
#endif
}

std::atomic<Vectors> limit{Vectors::avx512};

}  // namespace

Vectors vectors()
{
    static const Vectors processor = supported();
    return std::min(processor, limit.load(std::memory_order_relaxed));
}

void limit_vectors(Vectors widest)
{
    limit.store(widest, std::memory_order_relaxed);
}
