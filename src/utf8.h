// UTF-8 checked and repaired: plain code that includes nothing of the program's own, so
// that every room may use it, the platform too.
#pragma once

#include <stddef.h>

// The length of the well-formed UTF-8 character at text[0, length): 1 to 4, or 0 when
// none starts there (a stray byte, an overlong form, a surrogate, a character cut short).
size_t utf8_character(const char* text, size_t length);

// Writes bytes[0, length) into `out` (`capacity` bytes) as UTF-8, each piece that is no
// character (a stray byte, or the start of one cut short) as U+FFFD. Returns the bytes
// written, whole characters only.
size_t repair_utf8(const char* bytes, size_t length, char* out, size_t capacity);
