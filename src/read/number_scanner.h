// What a number is and what separates numbers, defined once: the scanner
// that reads a number exactly as the C library's "%lg" conversion does, and
// the runs of numbers at the start of a line that the data files are made
// of. The vector paths (16 bytes at a time with SSSE3) specialize this
// grammar for the short plain decimals nearly every file holds and give the
// same bits; the delimited reading of a row (table_format.h) calls the same
// scanner on each field.
#pragma once

#include <cstddef>
#include <string_view>

// White space as the C library's default locale has it: the bytes that
// separate numbers in a line and that may stand around a number in a field.
inline bool is_space(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Converts the number that "%lg" would read at `text` (leading white space
// skipped). Returns how many bytes the conversion consumed, or 0 when it
// fails; `value` is set only on success. A NUL byte ends the text.
std::size_t scan_number(std::string_view text, double& value);

// How many numbers stand at the start of the line.
int checkline(std::string_view line);

// Where the run of numbers at the start of the line ends.
std::size_t numbers_end(std::string_view line);

// Stores the numbers at the start of the line into row[0], row[1], ... up to
// `capacity` of them and returns how many the line holds (as checkline does).
// With `flags`, a value whose column flag is 0 is stored as +0.0. With
// `numbers_stop`, where the numbers end (as numbers_end gives it) goes there.
int readline(std::string_view line, double* row, int capacity, const int* flags, std::size_t* numbers_stop = nullptr);

// The number that starts at `p` (not at white space) and ends at
// `delimiter`, at white space or at `end`: where it ends, with the value
// that scan_number gives it; nullptr for any other bytes, which the caller
// then reads as a whole field. The fast path of a delimited row.
const char* scan_field_number(const char* p, const char* end, char delimiter, double& value);
