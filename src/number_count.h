// The count-only recognizer of the count pass: it finds how many numbers a
// line holds without walking them one by one. Every byte is classified (a
// digit, white space, '.', '-', '+', 'e' or 'E', or anything else), 64 bytes
// at a time, and bit masks of those classes check that the line holds only
// plain decimal numbers, [-]digits[.digits][e[+-]digits], between white
// space. Such a line has exactly as many numbers as runs of non-white bytes.
// Any other line (a leading '+', inf/nan, hex, numbers glued to numbers or
// letters, NUL bytes) is not counted here and is left to the scanner.
#pragma once

#include <string_view>

// The numbers of a plain line, or -1 for any other line. With `vector` (only
// where vectors() in cpu.h gives avx2 or more) the AVX2 classifier sorts the
// bytes, otherwise the portable one; both give the same answer for every line.
int count_plain_numbers(std::string_view line, bool vector);
