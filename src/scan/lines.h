// The line cutter: one stream's reads, cut into whole lines for the search.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "search.h"

enum {
  // Replies of a line longer than a piece whose text is kept until the line ends;
  // later ones in the same line have no text.
  max_held_replies = 16,
  // What is kept of such a reply's text: more than a report shows.
  held_reply_size = 1024,
  // What decides a reply after its code's first digit: the code, a space and the
  // longest text of the statistics that are no reply, "bytes received in ".
  reply_lookahead = 4 + 18,
};

// A test of a line's text (without its line feed), such as the user's ignore list.
typedef bool (*line_test)(const char* text, size_t length);

// A reply of a line longer than a piece, decided, whose line has not ended.
struct held_reply {
  size_t at;  // where it starts in its line
  size_t length;
  bool open;  // its text may go on in the line's next bytes
  char text[held_reply_size];
};

// What a line longer than a piece has shown so far. Its signs are handed on when it
// ends, all together, as a short line's are.
struct long_line {
  bool active;
  size_t start;        // where in the line the cutter's held bytes start
  size_t decided;      // replies that start before this are decided
  size_t first_reply;  // where its first reply starts, or SIZE_MAX
  size_t first_zero;   // its first and last zero byte, or SIZE_MAX
  size_t last_zero;
  bool flagged;  // the cutter's line test held for a part of it
  uint64_t found[max_entries / 64];
  size_t reply_count;  // decided replies, held or not
  held_reply replies[max_held_replies];
};

// One stream's bytes on their way to the search. Every line goes to the search whole,
// but a line longer than piece_size: that one goes in parts of piece_size bytes, each
// opening with enough of the part before it (the carry) that every entry, every reply
// and every text of the line test stands whole in some part. Its signs wait for its
// end, so that they count as a short line's would.
struct line_cutter {
  char held[piece_size];  // the stream's unfinished last line, or the part of it
  size_t held_length;
  char before;  // the stream byte just before held[0]
  line_test test;
  size_t test_reach;  // the longest text the test looks for
  size_t carry;       // the bytes the held part kept from the part before
  long_line line;
  bool counting;     // whether it counts lines for the signs' line numbers
  size_t lines_done;  // the stream's lines that have ended so far
};

// The length of bytes[0, length) up to and including its last line feed; 0 when it
// has none.
size_t through_last_feed(const char* bytes, size_t length);

// Prepares a cutter for a stream that has not started, with no line test.
void start_lines(line_cutter* cutter);

// Has the cutter run `test`, which looks for texts of at most `reach` bytes, over each
// line that holds a sign, whole: its signs carry the verdict (line_flagged).
void test_lines(line_cutter* cutter, line_test test, size_t reach);

// Has the cutter count the stream's lines, which costs a look at every byte: its signs
// carry their line's number (line_number).
void count_lines(line_cutter* cutter);

// Searches a read of `length` bytes from the cutter's stream: every line it finishes
// now, held bytes included, handing the signs to `sink` with their line's test verdict
// and where their line ends in this read (read_end).
void scan_lines(line_cutter* cutter, const char* bytes, size_t length, sign_sink sink,
                void* context);

// Searches what the cutter still holds, at the end of its stream: a last line without
// its line feed, whose replies then have no text.
void finish_lines(line_cutter* cutter, sign_sink sink, void* context);
