// Which instructions a vector function may use: one attribute per level of
// `Vectors` (cpu.h), each naming the compiler features of its level. cpu.cpp
// checks every feature of a level's list before vectors() gives that level,
// so a function marked with a level may be called only where vectors() is at
// least that level.
#pragma once

#define SCORIX_FEATURES_AVX2 "avx2,fma,popcnt,ssse3"
#define SCORIX_FEATURES_AVX512 SCORIX_FEATURES_AVX2 ",avx512f,avx512bw"

#define SCORIX_TARGET_AVX2 gnu::target(SCORIX_FEATURES_AVX2)
#define SCORIX_TARGET_AVX512 gnu::target(SCORIX_FEATURES_AVX512)
