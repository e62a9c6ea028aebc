// What the run's record needs of the system: a file to append to, the time of day and
// the machine's name. One implementation file per system.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform.h"

// Opens `path` for appending, creating it if missing (with the umask's permissions on
// POSIX), so that every write lands whole at the file's end, whoever else appends.
// Never inherited by the client. no_handle on failure.
os_handle open_for_append(const os_char* path);

// Milliseconds since 1970-01-01 00:00 UTC.
int64_t wall_clock_ms();

// Writes the machine's name into `name` (`capacity` bytes), in UTF-8 and terminated;
// returns its length, 0 when it cannot be had.
size_t host_name(char* name, size_t capacity);

// Writes `text` (`length` units) into `out` (`capacity` bytes) in UTF-8: on Windows
// from UTF-16, with a lone surrogate as U+FFFD; on POSIX the bytes, any that are no
// UTF-8 as U+FFFD. Returns the bytes written, whole characters only.
size_t os_text_in_utf8(const os_char* text, size_t length, char* out, size_t capacity);

// The same for bytes the client wrote: UTF-8 as it is; any other byte as U+FFFD on
// POSIX, and on Windows, where a client writes in its code pages, read in the OEM one.
size_t client_bytes_in_utf8(const char* bytes, size_t length, char* out, size_t capacity);
