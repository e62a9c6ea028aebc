// Builds the index: the filter's grams, the rare bytes, the containers.
#include "scan/index.h"

#include <string.h>

#include "text.h"

namespace {

search_index idx;  // not "index", which the C library names
unsigned built_version;  // 0: never built

// How often a byte turns up in ordinary client output, roughly: the grams of an entry
// are taken where its bytes are rarest, so that listings and prose seldom pass the filter.
unsigned commonness(unsigned char c) {
  if (c == ' ') return 4;
  if (c != '\0' && strchr("etaoinsrhl", c) != nullptr) return 3;
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return 2;
  return 1;
}

// Words that fill listings and transfer messages: a gram inside one would send whole
// pages to the check behind the filter.
const char common_words[] = " file ftp the and ing ";

unsigned gram_score(const char* gram, size_t size) {
  unsigned score = 0;
  for (size_t b = 0; b < size; ++b) score += commonness(static_cast<unsigned char>(gram[b]));
  for (const char* w = common_words; w[size - 1] != '\0'; ++w)
    if (memcmp(w, gram, size) == 0) return score + 16;
  return score;
}

// The offset of the rarest `size`-byte gram of text[0, length) at offsets first,
// first + stride, ...
size_t rarest_gram(const char* text, size_t length, size_t size, size_t first, size_t stride) {
  size_t best = first;
  unsigned best_score = ~0u;
  for (size_t o = first; o + size <= length; o += stride) {
    unsigned score = gram_score(text + o, size);
    if (score < best_score) {
      best_score = score;
      best = o;
    }
  }
  return best;
}

void add_candidate(size_t c, size_t p, size_t offset) {
  uint32_t gram = load_gram(idx.text[p] + offset);
  uint32_t hash = gram_hash(gram);
  idx.candidate[c] = {gram, static_cast<uint16_t>(offset), idx.head[hash], static_cast<uint8_t>(p)};
  idx.head[hash] = static_cast<uint16_t>(c + 1);
  idx.filter[hash] = 1;
}

void build() {
  memset(&idx, 0, sizeof idx);
  idx.count = search_entry_count();
  size_t candidates = 0;
  for (size_t p = 0; p < idx.count; ++p) {
    search_entry entry = search_entry_at(p);
    idx.text[p] = entry.text;
    idx.length[p] = entry.length;
    idx.counts_in_reply[p] = entry.counts_in_reply;
    idx.last_gram[p] = load_gram(entry.text + entry.length - gram_size);
    if (entry.length < window_span) {
      idx.rare_entry[idx.rare_count] = static_cast<uint8_t>(p);
      idx.rare_offset[idx.rare_count++] = static_cast<uint8_t>(rarest_gram(entry.text, entry.length, 1, 0, 1));
      continue;
    }
    for (size_t r = 0; r < sample_step; ++r)
      add_candidate(candidates++, p, rarest_gram(entry.text, entry.length, gram_size, r, sample_step));
  }
  // The tables hold no text inside another, which a test checks.
  const size_t tables = signature_count + client_signature_count;
  for (size_t p = 0; p < idx.count; ++p)
    for (size_t q = p < tables ? tables : 0; q < idx.count; ++q)
      if (idx.length[q] > idx.length[p] &&
          text_holds(idx.text[q], idx.length[q], idx.text[p], idx.length[p]))
        idx.covered_by[p].word[q / 64] |= uint64_t{1} << (q % 64);
}

}  // namespace

const search_index* current_index() {
  unsigned version = entries_version();
  if (built_version != version) {
    build();
    built_version = version;
  }
  return idx.count > 0 ? &idx : nullptr;
}
