// The vector instructions the processor runs, found once: every module with
// a vector path (number scanning and counting, the projection, the matrix
// inversion) takes the widest one allowed here. Every path gives the bits of
// the portable one; the tests lower the limit to hold each path to it.
#pragma once

// avx2 stands for AVX2 with FMA, POPCNT and SSSE3; avx512 adds AVX-512F and BW.
enum class Vectors { none, avx2, avx512 };

// The widest level the processor runs, within the limit.
Vectors vectors();

// For the tests: the widest level vectors() may give (avx512 unless lowered).
void limit_vectors(Vectors widest);
