// The search: finds the failure signs in a piece of client output. It writes nothing
// and keeps no run state; what becomes of a sign is its sink's business.
#pragma once

#include <stddef.h>

#include "signatures.h"

enum { piece_size = 4096 };

enum sign_kind {
  sign_message,  // one of the known failure messages
  sign_reply,    // an FTP reply line with a code from 400 to 999
};

// One failure sign, pointing into the searched piece or the tables.
struct found_sign {
  sign_kind kind;
  // The message, or the reply line up to its line feed (a CR before it kept). A reply
  // whose line feed is not in the piece, or comes after a zero byte, has no text:
  // text is nullptr.
  const char* text;
  size_t length;
  // The line the sign stands in, within the piece, without its line feed.
  const char* line;
  size_t line_length;
};

// Receives each sign in the order it counts. `context` is the one given to the search.
typedef void (*sign_sink)(const found_sign* sign, void* context);

// Hands `sink` every sign of text[0, length), whose stream byte before it was
// `before` (a piece after a line break may open with a reply line), line by line: the
// known messages in a line, each once and in table order, then its reply lines. A
// client_signatures entry does not count inside a reply line, and a zero byte ends
// the text that messages may lie in, up to the end of its line.
void find_signs(const char* text, size_t length, char before, sign_sink sink, void* context);

// Where the processor offers a wider vector unit the search uses it, with the same
// results. This caps the width for the rest of the run: 0 the portable passes, 1 up to
// 256-bit vectors (the default). For tests and benchmarks, which compare them.
void limit_scan_passes(int widest);
