// The index of the entries, built from them at the first search after they change.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "scan/entries.h"

enum {
  found_words = max_entries / 64,
  sample_step = 5,
  gram_size = 4,
  // Bytes an entry needs so that every occurrence covers a sampled gram: the gram at
  // the last of sample_step offsets ends sample_step + gram_size - 1 in. Every table
  // entry has them.
  window_span = sample_step + gram_size - 1,
  filter_bits = 16,  // a 64 KiB filter: the sampled grams of text rarely hit it
  max_candidates = max_entries * sample_step,
};

// Entries found in a text: a bit an entry.
struct entry_set {
  uint64_t word[found_words];
};

// The search samples the text every sample_step bytes. Any occurrence of an entry
// covers a sampled position at an offset of each remainder modulo sample_step, so a
// filter of one gram per remainder (the rarest) finds every occurrence and almost
// nothing else. A shorter entry, which only a run adds, is found by its rarest byte,
// which memchr looks for.
struct search_index {
  size_t count;
  const char* text[max_entries];
  size_t length[max_entries];
  bool counts_in_reply[max_entries];
  uint32_t last_gram[max_entries];  // near misses tend to differ at the end
  // The longer entries whose text holds each one's.
  entry_set covered_by[max_entries];
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

// The index of the current entries, built if they changed since; nullptr when they did
// not fit.
const search_index* current_index();

inline uint32_t load_gram(const char* bytes) {
  uint32_t gram;
  memcpy(&gram, bytes, sizeof gram);
  return gram;
}

inline uint32_t gram_hash(uint32_t gram) { return (gram * 2654435761u) >> (32 - filter_bits); }
