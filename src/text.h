// Plain text helpers shared by the search, the settings and the run's record.
#pragma once

#include <stddef.h>

// Whether text[0, length) holds the `size` bytes of `pattern` (size at least 1)
// anywhere: the plain search for the rare checks beside the scan's own.
bool text_holds(const char* text, size_t length, const char* pattern, size_t size);

// The length of the well-formed UTF-8 character at text[0, length): 1 to 4, or 0 when
// none starts there (a stray byte, an overlong form, a surrogate, a character cut short).
size_t utf8_character(const char* text, size_t length);

// Writes bytes[0, length) into `out` (`capacity` bytes) as UTF-8, each piece that is no
// character (a stray byte, or the start of one cut short) as U+FFFD. Returns the bytes
// written, whole characters only.
size_t repair_utf8(const char* bytes, size_t length, char* out, size_t capacity);
