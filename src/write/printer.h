// The value printer: a double as the C library's "%-.7g" prints it, in
// exact integer arithmetic for the magnitudes scores and data have, without
// the library's locale and format parsing.
#pragma once

// Room that format_value needs: "-1.234568e-308" and its terminator fit.
inline constexpr int kValueChars = 24;

// Writes `value` as printf's "%-.7g" does into `text` and returns the end
// of what it wrote (no terminator).
char* format_value(char* text, double value);
