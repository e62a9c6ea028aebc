// Plain text helpers shared by the search and the settings.
#pragma once

#include <stddef.h>

// Whether text[0, length) holds the `size` bytes of `pattern` (size at least 1)
// anywhere: the plain search for the rare checks beside the scan's own.
bool text_holds(const char* text, size_t length, const char* pattern, size_t size);
