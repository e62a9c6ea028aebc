// The error scanner: finds failure signs in client output, reports each on the
// wrapper's standard output and records the kind of the run's first sign.
#pragma once

#include <stddef.h>

// The statuses a run ends with.
enum run_status {
  status_no_sign = 0,
  status_setup_failed = 1,   // the client could not be set up or started
  status_known_message = 2,  // the first sign was one of the known failure messages
  status_error_reply = 3,    // the first sign was an FTP error reply line
  status_stalled = 4,        // the client was stopped for inactivity
};

// The run's status: status_no_sign until the first failure sign, then the kind of that
// sign. Never changes after that.
extern int exit_status;

enum { signature_count = 79, signature_slot = 60, piece_size = 4096, max_signatures = 128 };

// The known failure messages, in search order. Some texts stand twice, on purpose:
// each entry is reported by itself.
extern const char error_signatures[signature_count][signature_slot];

// Further failure messages of this system's client, searched after error_signatures
// in the same pass. Each holds at least 11 characters (the search keeps room for just
// the two shorter texts of error_signatures); with error_signatures at most
// max_signatures in all.
extern const char* const client_signatures[];
extern const size_t client_signature_count;

// Whether text[0, length) holds the `size` bytes of `pattern` (size at least 1)
// anywhere: the plain search for the rare checks beside the scan's own.
bool text_holds(const char* text, size_t length, const char* pattern, size_t size);

// Writes an error report whose text is `text` and records `status` if this is the
// run's first sign. For signs that are no client output, such as a stalled client.
void report_sign(const char* text, run_status status);

// Scans one chunk of client output by itself: reports every known message it holds
// (each at most once, in table order), then every reply line with a code from 400 to
// 999 that follows a carriage return or line feed inside it. Returns exit_status.
int scan_chunk(const char* text, size_t length);

// As scan_chunk, for a piece whose preceding byte in its stream was `before`: a piece
// that follows a line feed, or opens its stream, can open with a reply line.
int scan_piece(const char* text, size_t length, char before);

// Where the processor offers a wider vector unit the scanner uses it, with the same
// results. This caps the width for the rest of the run: 0 the portable passes, 1 up to
// 256-bit vectors (the default). For tests and benchmarks, which compare them.
void limit_scan_passes(int widest);

// One stream's bytes on their way to the scanner, cut so that every piece starts at
// the start of a line and ends just after a line feed, at most piece_size bytes.
struct line_cutter {
  char held[piece_size];  // the stream's unfinished last line
  size_t held_length;
  char before;            // the stream byte just before held[0]
};

// Prepares a cutter for a stream that has not started.
void start_lines(line_cutter* cutter);

// Scans a read of `length` bytes from the cutter's stream: every line it finishes now,
// held bytes included. A line longer than piece_size is scanned in pieces as it fills.
void scan_lines(line_cutter* cutter, const char* bytes, size_t length);

// Scans what the cutter still holds, at the end of its stream.
void finish_lines(line_cutter* cutter);
