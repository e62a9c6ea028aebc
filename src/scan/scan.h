// The error scanner: what the relay hands each chunk of the client's output to, and the
// run's status, which the first failure sign decides.
#pragma once

#include <stddef.h>

// The run's status: status_no_sign until the first failure sign, then the kind of that
// sign (exit_status.h). Never changes after that.
extern int exit_status;

// Has the relay show the chunk being scanned through `end` bytes (at least), before a
// report about the line that ends there.
typedef void (*chunk_shown)(int stream, size_t end);

// Makes both streams new: nothing held, no line counted. With a record kept, the lines
// are counted and the transfers noted; with VESKAR_IGNORE, the lines tested.
void start_scan();

// Scans a chunk of `stream` (output_stream or error_stream) as the relay shows it: each
// line the chunk finishes is judged whole, and its signs are reported once `show` has
// had the relay show the chunk through that line.
void scan_chunk(int stream, const char* bytes, size_t length, chunk_shown show);

// The end of a stream, or of its client: its last unfinished line is judged as it stands.
void finish_scan(int stream);
