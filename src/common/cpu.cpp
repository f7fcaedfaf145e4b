#include "common/cpu.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "common/vector_targets.h"

namespace {

// Whether the processor runs one compiler feature of a level's list. The
// compiler's checks include the operating system's support for the wider
// registers, not only the processor's. A name without a check here counts
// as missing, so a feature added to a list is never used unchecked.
bool runs(std::string_view feature)
{
#if defined(__x86_64__)
    if (feature == "avx2")
        return __builtin_cpu_supports("avx2");
    if (feature == "fma")
        return __builtin_cpu_supports("fma");
    if (feature == "popcnt")
        return __builtin_cpu_supports("popcnt");
    if (feature == "ssse3")
        return __builtin_cpu_supports("ssse3");
    if (feature == "avx512f")
        return __builtin_cpu_supports("avx512f");
    if (feature == "avx512bw")
        return __builtin_cpu_supports("avx512bw");
#endif
    return false;
}

// Whether it runs every feature of a comma-separated list.
bool runs_all(std::string_view features)
{
    for (;;) {
        std::size_t comma = features.find(',');
        if (!runs(features.substr(0, comma)))
            return false;
        if (comma == std::string_view::npos)
            return true;
        features.remove_prefix(comma + 1);
    }
}

Vectors supported()
{
#if defined(__x86_64__)
    __builtin_cpu_init();
#endif
    if (!runs_all(SCORIX_FEATURES_AVX2))
        return Vectors::none;
    return runs_all(SCORIX_FEATURES_AVX512) ? Vectors::avx512 : Vectors::avx2;
}

// The widest level SCORIX_VECTORS allows; unset or empty, any.
Vectors switched()
{
    const char* text = std::getenv("SCORIX_VECTORS");
    if (!text || !*text)
        return Vectors::avx512;
    const std::pair<std::string_view, Vectors> levels[] = {
        {"none", Vectors::none}, {"avx2", Vectors::avx2}, {"avx512", Vectors::avx512}};
    for (const auto& [name, level] : levels)
        if (name == text)
            return level;
    std::fprintf(stderr, "%s: warning: SCORIX_VECTORS=%s is not none, avx2 or avx512: ignored\n",
                 program_invocation_short_name, text);
    return Vectors::avx512;
}

std::atomic<Vectors> limit{Vectors::avx512};

}  // namespace

Vectors vectors()
{
    static const Vectors allowed = std::min(supported(), switched());
    return std::min(allowed, limit.load(std::memory_order_relaxed));
}

void limit_vectors(Vectors widest)
{
    limit.store(widest, std::memory_order_relaxed);
}
