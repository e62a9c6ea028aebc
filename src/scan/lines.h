// The line cutter: one stream's reads, cut into pieces that each start at the start of
// a line, for the search.
#pragma once

#include <stddef.h>

#include "search.h"

// One stream's bytes on their way to the search. Every piece starts at the start of a
// line and ends just after a line feed, or is the stream's last unfinished line, or is
// piece_size bytes of a longer line: fewer when a line break or the client's prompt
// "ftp> ", or the start of one, stands in its last reply_opening bytes, which then
// open the next piece.
struct line_cutter {
  char held[piece_size];  // the stream's unfinished last line
  size_t held_length;
  char before;            // the stream byte just before held[0]
};

// The bytes a prompt and a reply code take: "ftp> 550 " but its last byte.
enum { reply_opening = 8 };

// The length of bytes[0, length) up to and including its last line feed; 0 when it
// has none.
size_t through_last_feed(const char* bytes, size_t length);

// Prepares a cutter for a stream that has not started.
void start_lines(line_cutter* cutter);

// Searches a read of `length` bytes from the cutter's stream: every line it finishes
// now, held bytes included, handing the signs to `sink`. A line longer than piece_size
// is searched in pieces as it fills.
void scan_lines(line_cutter* cutter, const char* bytes, size_t length, sign_sink sink,
                void* context);

// Searches what the cutter still holds, at the end of its stream.
void finish_lines(line_cutter* cutter, sign_sink sink, void* context);
