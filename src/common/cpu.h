// The vector instructions the processor runs, found once: every module with
// a vector path (number scanning and counting, the projection, the matrix
// inversion) takes the widest one allowed here. Every path gives the bits of
// the portable one; the environment variable SCORIX_VECTORS lowers the level
// for a whole run (to replay a narrower path for a bug report) and the tests
// lower it with limit_vectors to hold each path to the portable one.
#pragma once

// The instructions of each level are listed in vector_targets.h: avx2 is
// AVX2 with FMA, POPCNT and SSSE3; avx512 adds AVX-512F and BW.
enum class Vectors { none, avx2, avx512 };

// The widest level the processor runs, within SCORIX_VECTORS (none, avx2 or
// avx512, read at the first call; any other value is ignored with a warning
// on standard error) and within the limit.
Vectors vectors();

// For the tests: the widest level vectors() may give (avx512 unless lowered).
void limit_vectors(Vectors widest);
