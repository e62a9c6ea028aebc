// The search: finds the failure signs in a piece of client output. It writes nothing
// and keeps no run state; what becomes of a sign is its sink's business.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "signatures.h"

enum {
  piece_size = 4096,
  // What the search can hold: the tables and what a run adds to them.
  max_entries = 256,
  // The shortest entry the index places: one gram of its filter.
  min_entry_length = 4,
  // The longest: a text of 255 characters, written in UTF-8.
  max_entry_length = 3 * 255,
};

// A message the search looks for beyond the built-in tables.
struct search_entry {
  const char* text;  // min_entry_length to max_entry_length bytes, no zero byte
  size_t length;
  // It counts inside a reply line too, as error_signatures' entries do; otherwise only
  // before its line's first reply, as client_signatures' (the C library's words, which
  // servers also put in their replies).
  bool counts_in_reply;
};

// Builds the index from error_signatures, client_signatures and then `extra`, in that
// order, replacing the one before. The texts must outlive the index. An extra entry
// whose text an earlier entry has already is searched once, in the earlier place, and
// counts in a reply line if either does. Returns false
// when an entry is too short or too long, or they are more than max_entries in all: the
// index then holds nothing, and every search fails loudly rather than miss an entry.
// The first search builds it from the tables alone if nobody has.
// A line gives each sign once: an entry found in a line together with one whose text
// holds its own is not handed on.
bool build_search_index(const search_entry* extra, size_t count);

// The number of entries in the index, and the text and kind of entry `entry`.
size_t search_entry_count();
search_entry search_entry_at(size_t entry);

// The longest entry of the index, in bytes.
size_t longest_search_entry();

// Whether an entry whose text holds entry `entry`'s is among `found` (a bit an entry,
// max_entries / 64 words): then `entry` is no sign of its own in that line.
bool search_entry_covered(size_t entry, const uint64_t* found);

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
  // A message: its entry's number in the index. A reply: where it starts in the piece.
  size_t entry;
  size_t at;
  bool counts_in_reply;  // a message: its entry's kind
  // Set by the line cutter, which sees whole lines: whether the sign's line holds a
  // text the cutter was told to look for, how many bytes of the read being cut run
  // through that line's line feed (0 where the line did not end in that read), and the
  // line's number in its stream (1-based; 0 where the cutter counts none).
  bool line_flagged;
  size_t read_end;
  size_t line_number;
};

// Receives each sign in the order it counts. `context` is the one given to the search.
typedef void (*sign_sink)(const found_sign* sign, void* context);

// Hands `sink` every sign of text[0, length), whose stream byte before it was
// `before` (a piece after a line break may open with a reply line), line by line: the
// known messages in a line, each once and in table order, then its reply lines. An
// entry that does not count in a reply line counts only before its line's first reply,
// and a zero byte ends the text that messages may lie in, up to the end of its line.
void find_signs(const char* text, size_t length, char before, sign_sink sink, void* context);

// Where the processor offers a wider vector unit the search uses it, with the same
// results. This caps the width for the rest of the run: 0 the portable passes, 1 up to
// 256-bit vectors (the default). For tests and benchmarks, which compare them.
void limit_scan_passes(int widest);
