// The entries the search looks for: the built-in tables, then what a run adds (the C
// library's words in the client's language, the site's own texts), taken and checked
// at start-up; and their index, built at the first search after.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "platform/platform.h"
#include "scan/signatures.h"

enum {
  max_entries = 256,  // the tables and what a run adds to them
  min_entry_length = 4,
  max_entry_length = 3 * 255,  // a text of 255 characters, written in UTF-8
  found_words = max_entries / 64,  // four
  sample_step = 5,
  gram_size = 4,
  // Bytes an entry needs so that every occurrence covers a sampled gram at each offset
  // modulo sample_step; every table entry has them.
  window_span = sample_step + gram_size - 1,
  filter_bits = 16,  // a 64 KiB filter: the sampled grams of text rarely hit it
  max_candidates = max_entries * sample_step,
};

// A message the search looks for beyond the built-in tables.
struct search_entry {
  const char* text;  // min_entry_length to max_entry_length bytes, no zero byte
  size_t length;
  // It counts inside a reply line too, as error_signatures' entries do; else only before
  // its line's first reply, as client_signatures' (words servers put in replies too).
  bool counts_in_reply;
  size_t encoding = unknown_encoding;  // the client encoding its text is in
};

// Takes error_signatures, client_signatures and then `extra`, in that order, in place of
// the entries before; the texts must outlive the search. An extra entry whose text an
// earlier entry has already is searched once, in the earlier place, and counts in a
// reply line if either does, in the earlier one's encoding. Returns false when an entry is too short or too long, or
// they are more than max_entries in all: the search then holds nothing, and every
// search fails loudly rather than miss an entry. Until then the tables alone are the
// entries.
bool build_search_index(const search_entry* extra, size_t count);

// Entries found in a text: a bit an entry.
struct entry_set {
  uint64_t word[found_words];
};

// The search samples the text every sample_step bytes. Any occurrence of an entry
// covers a sampled position at an offset of each remainder modulo sample_step, so a
// filter of one gram per remainder (the rarest) finds every occurrence and almost
// nothing else. A shorter entry, which only a run adds, is found by its rarest byte.
struct search_index {
  bool built;  // the filter, the rare bytes and the containers are there
  size_t count;
  const char* text[max_entries];
  size_t length[max_entries];
  bool counts_in_reply[max_entries];
  uint8_t encoding[max_entries];
  uint32_t last_gram[max_entries];  // near misses tend to differ at the end
  entry_set covered_by[max_entries];  // the longer entries whose text holds each one's
  uint8_t filter[size_t{1} << filter_bits];  // a byte a hash: no shifts to test it
  // The candidates of each hash, as chains: head[hash] - 1 is the first, next - 1 the
  // one after.
  uint16_t head[size_t{1} << filter_bits];
  struct {
    uint32_t gram;
    uint16_t offset;  // where in its entry
    uint16_t next;
    uint8_t entry;
  } candidate[max_candidates];
  size_t rare_count;  // the short entries, by their rarest byte
  uint8_t rare_entry[max_entries];
  uint8_t rare_offset[max_entries];
};

// The index of the entries, built now if it is not. Ends the process when they did not
// fit.
const search_index* current_index();

inline uint32_t load_gram(const char* bytes) {
  uint32_t gram;
  memcpy(&gram, bytes, sizeof gram);
  return gram;
}

inline uint32_t gram_hash(uint32_t gram) { return (gram * 2654435761u) >> (32 - filter_bits); }
