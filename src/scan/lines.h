// The line cutter: one stream's reads, cut into whole lines for the search.
#pragma once

#include <stddef.h>

#include "scan/replies.h"
#include "scan/search.h"

// A test of a line's text (without its line feed), such as the user's ignore list.
typedef bool (*line_test)(const char* text, size_t length);

// One stream's bytes on their way to the search. Every line goes to the search whole,
// but a line longer than piece_size: that one goes in parts of piece_size bytes, each
// opening with enough of the part before it (the carry) for the search and the test.
struct line_cutter {
  char held[piece_size];  // the stream's unfinished last line, or the part of it
  size_t held_length;
  char before;  // the stream byte just before held[0]
  line_test test;
  size_t test_reach;  // the longest text the test looks for
  size_t carry;       // the bytes the held part kept from the part before
  bool flagged;       // the test held for a part of the held long line
  long_line line;
  bool counting;            // whether it counts lines for the signs' line numbers
  transfer_sink transfers;  // nullptr: statistics lines go nowhere
  size_t lines_done;        // the stream's lines that have ended so far
};

// Prepares a cutter for a stream that has not started, with no line test.
void start_lines(line_cutter* cutter);

// Has the cutter run `test`, which looks for texts of at most `reach` bytes, over each
// line that holds a sign, whole: its signs carry the verdict (line_flagged).
void test_lines(line_cutter* cutter, line_test test, size_t reach);

// Has the cutter count the stream's lines (its signs carry line_number) and hand
// each transfer statistics line to `transfers` (nullptr: none).
void count_lines(line_cutter* cutter, transfer_sink transfers);

// Searches a read of `length` bytes from the cutter's stream: every line it finishes
// now, held bytes included, handing the signs to `sink` with their line's test verdict
// and where their line ends in this read (read_end).
void scan_lines(line_cutter* cutter, const char* bytes, size_t length, sign_sink sink, void* context);

// Searches what the cutter still holds, at the end of its stream: a last line without
// its line feed, whose replies then have no text.
void finish_lines(line_cutter* cutter, sign_sink sink, void* context);
