// The entries the search looks for: the built-in tables, then what a run adds to them
// (the C library's words in the client's language, the site's own texts), taken and
// checked at start-up.
#pragma once

#include <stddef.h>

#include "signatures.h"

enum {
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

// Takes error_signatures, client_signatures and then `extra`, in that order, in place of
// the entries before; the texts must outlive the search. An extra entry whose text an
// earlier entry has already is searched once, in the earlier place, and counts in a
// reply line if either does. Returns false when an entry is too short or too long, or
// they are more than max_entries in all: the search then holds nothing, and every
// search fails loudly rather than miss an entry. Until it is called the tables alone
// are the entries.
bool build_search_index(const search_entry* extra, size_t count);

// The number of entries (0 when they did not fit), and entry `entry`.
size_t search_entry_count();
search_entry search_entry_at(size_t entry);

// The longest entry, in bytes.
size_t longest_search_entry();

// Moves on each time the entries are taken again, so that what is built from them
// knows when to build anew.
unsigned entries_version();
