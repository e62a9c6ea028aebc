// Plain text helpers shared by the search, the settings and the run's record, and the
// UTF-8 ones of utf8.h.
#pragma once

#include <stddef.h>

#include "platform/platform.h"
#include "utf8.h"

// Whether text[0, length) holds the `size` bytes of `pattern` (size at least 1)
// anywhere: the plain search for the rare checks beside the scan's own.
bool text_holds(const char* text, size_t length, const char* pattern, size_t size);

// Writes `number` in decimal at `out` (room for 20 digits), unterminated; returns its length.
size_t text_decimal(unsigned long long number, char* out);

// The number of characters of `text` before its terminator.
size_t text_length(const os_char* text);
