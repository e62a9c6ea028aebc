// The relay: carries the client's output to the wrapper's own and through the scanner.
#pragma once

#include <stddef.h>

// Closes the wrapper's copies of the pipes' write ends, then echoes both of the
// client's streams to saved_stdout and saved_stderr and scans them, until both pipes
// have ended, and reports a client that ended with a failure of its own
// (status_client_failed), waiting for its end if need be. With an idle timeout set, the
// client is watched meanwhile: one quiet for that long is stopped and reported as a
// sign (status_stalled), alone; once it has ended, its end decides. After either, what
// the pipes still hold (another process may hold them) is relayed for a bounded time.
// A request to stop the wrapper stops the client too and is reported, alone, after all
// the client printed; then the wrapper ends as that request would have ended it.
void relay_streams();

// The echo-and-scan path of one read (length 0: the end of that stream), after
// reset_relay. Each stream is echoed as it came, until an echo fails, and scanned to
// its end regardless. The reports about the lines a read finishes come after those
// lines and before the rest of the read.
void relay_chunk(int stream, const char* bytes, size_t length);

// Makes both streams new again: echo on, nothing held.
void reset_relay();
