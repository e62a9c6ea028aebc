// The entries, taken and checked, and the index: the filter's grams, the rare bytes,
// the containers.
#include "scan/index.h"

#include <stdlib.h>
#include <string.h>

#include "text.h"

namespace {

search_index idx;  // not "index", which the C library names
bool taken;

// Words that fill listings and transfer messages: a gram inside one would send whole
// pages to the check behind the filter.
const char common_words[] = " file ftp the and ing ";

// How often a gram turns up in ordinary client output, roughly: the grams of an entry
// are taken where its bytes are rarest, so that listings and prose seldom pass the filter.
unsigned gram_score(const char* gram, size_t size) {
  unsigned score = 0;
  for (size_t b = 0; b < size; ++b) {
    unsigned char c = static_cast<unsigned char>(gram[b]);
    bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
    score += c == ' ' ? 4 : c != '\0' && strchr("etaoinsrhl", c) != nullptr ? 3 : alphanumeric ? 2 : 1;
  }
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

bool take(const char* text, size_t length, bool counts_in_reply, size_t encoding) {
  if (idx.count == max_entries || length < min_entry_length || length > max_entry_length ||
      memchr(text, '\0', length) != nullptr)
    return false;
  idx.text[idx.count] = text;
  idx.length[idx.count] = length;
  idx.encoding[idx.count] = static_cast<uint8_t>(encoding);
  idx.counts_in_reply[idx.count++] = counts_in_reply;
  return true;
}

bool take_all(const search_entry* extra, size_t count) {
  // ASCII: one and the same in every encoding.
  for (size_t e = 0; e < signature_count; ++e)
    if (!take(error_signatures[e], strlen(error_signatures[e]), true, unknown_encoding)) return false;
  for (size_t e = 0; e < client_signature_count; ++e)
    if (!take(client_signatures[e], strlen(client_signatures[e]), false, unknown_encoding))
      return false;
  for (size_t e = 0; e < count; ++e) {
    bool known = false;
    for (size_t p = 0; p < idx.count && !known; ++p) {
      known = idx.length[p] == extra[e].length && memcmp(idx.text[p], extra[e].text, extra[e].length) == 0;
      if (known) idx.counts_in_reply[p] |= extra[e].counts_in_reply;
    }
    if (!known && !take(extra[e].text, extra[e].length, extra[e].counts_in_reply, extra[e].encoding))
      return false;
  }
  return true;
}

void build() {
  idx.built = true;
  memset(idx.filter, 0, sizeof idx.filter);
  memset(idx.head, 0, sizeof idx.head);
  memset(idx.covered_by, 0, sizeof idx.covered_by);
  idx.rare_count = 0;
  size_t candidates = 0;
  for (size_t p = 0; p < idx.count; ++p) {
    const char* text = idx.text[p];
    size_t length = idx.length[p];
    idx.last_gram[p] = load_gram(text + length - gram_size);
    if (length < window_span) {
      idx.rare_entry[idx.rare_count] = static_cast<uint8_t>(p);
      idx.rare_offset[idx.rare_count++] = static_cast<uint8_t>(rarest_gram(text, length, 1, 0, 1));
      continue;
    }
    for (size_t r = 0; r < sample_step; ++r)
      add_candidate(candidates++, p, rarest_gram(text, length, gram_size, r, sample_step));
  }
  // The tables hold no text inside another, which a test checks.
  const size_t tables = signature_count + client_signature_count;
  for (size_t p = 0; p < idx.count; ++p)
    for (size_t q = p < tables ? tables : 0; q < idx.count; ++q)
      if (idx.length[q] > idx.length[p] && text_holds(idx.text[q], idx.length[q], idx.text[p], idx.length[p]))
        idx.covered_by[p].word[q / 64] |= uint64_t{1} << (q % 64);
}

}  // namespace

bool build_search_index(const search_entry* extra, size_t count) {
  // Only what the entries take: the rest waits for the first search.
  idx.built = false;
  idx.count = 0;
  taken = true;
  if (take_all(extra, count)) return true;
  idx.count = 0;
  return false;
}

const search_index* current_index() {
  if (!taken) build_search_index(nullptr, 0);
  if (!idx.built) build();
  // Entries that did not fit must not go missing in silence.
  if (idx.count == 0) abort();
  return &idx;
}
