// The search: finds the failure signs in client output and decides, line by line,
// which count. It writes nothing; what becomes of a sign is its sink's business.
#pragma once

#include <stddef.h>

#include "scan/filter.h"

enum {
  piece_size = 4096,
  // A line longer than a piece keeps the text of its first replies until it ends, and
  // of each more than a report shows; later replies in the line have no text.
  max_held_replies = 16,
  held_reply_size = 1024,
  // The bytes each part of a long line takes over from the part before at least, so
  // that every entry, every reply and every statistics line stands whole in some part.
  part_overlap = max_entry_length - 1,
};

enum sign_kind {
  sign_message,  // one of the known failure messages
  sign_reply,    // an FTP reply line with a code from 400 to 999
};

// One failure sign, pointing into the searched text, the entries or a long line.
struct found_sign {
  sign_kind kind;
  // The message, or the reply line up to its line feed (a CR before it kept). A reply
  // whose line feed is not in the text, or comes after a zero byte, has no text:
  // text is nullptr.
  const char* text;
  size_t length;
  size_t encoding = unknown_encoding;  // a message's text's client encoding
  // The line the sign stands in, without its line feed; nullptr for a long line's.
  const char* line;
  size_t line_length;
  // Set by the line cutter: whether the sign's line holds a text of its line test, how
  // many bytes of the read being cut run through that line's line feed (0 where the
  // line did not end in that read), and the line's number (1-based; 0: not counted).
  bool line_flagged;
  size_t read_end;
  size_t line_number;
};

// Receives each sign in the order it counts. `context` is the one given to the search.
typedef void (*sign_sink)(const found_sign* sign, void* context);

// Hands `sink` every sign of text[0, length), at most piece_size bytes, whose stream
// byte before it was `before` (a text after a line break may open with a reply line),
// line by line: a line's messages, each once and in entry order, then its replies. An
// entry that does not count in a reply line counts only before the line's first reply;
// a zero byte ends the text messages may lie in, up to the end of its line; a message
// whose text stands inside another's that counts in the line is no sign of its own.
void find_signs(const char* text, size_t length, char before, sign_sink sink, void* context);

// What a line longer than a piece has shown so far, kept by whoever cuts the line.
struct long_line {
  bool active;
  size_t start;        // where in the line the next part's fresh bytes start
  size_t decided;      // replies that start before this are decided
  size_t first_reply;  // where its first reply starts, or SIZE_MAX
  size_t first_zero;   // its first and last zero byte, or SIZE_MAX
  size_t last_zero;
  entry_set found;     // the messages that count in it
  size_t reply_count;  // decided replies, held or not
  struct held_reply {
    size_t at;  // where it starts in the line
    size_t length;
    bool open;  // its text may go on in the line's next bytes
    char text[held_reply_size];
  } replies[max_held_replies];  // the first ones, whose text is kept
};

// Searches the next part of a long line, text[0, length) (at most piece_size bytes),
// which opens with `carry` bytes of the part before (0 for the first), after the stream
// byte `before`; `last`: it ends the line. Its signs wait in `line` for end_long_line.
void search_part(long_line* line, const char* text, size_t length, size_t carry, char before, bool last);

// Hands `sink` the signs of a long line whose last part has been searched: its messages
// in entry order, then its replies, with their text when the line ended in a line feed
// (`fed`) that no zero byte came before. Leaves `line` ready for the next long line.
void end_long_line(long_line* line, bool fed, sign_sink sink, void* context);
