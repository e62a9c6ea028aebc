// The sampled filter and the rare bytes.
#include "scan/filter.h"

#include <string.h>

namespace {

// Whether entry e stands at text[start] within text[0, length).
bool stands_at(const search_index* index, const char* text, size_t length, size_t start, size_t e) {
  size_t size = index->length[e];
  return start + size <= length && load_gram(text + start + size - gram_size) == index->last_gram[e] &&
         memcmp(text + start, index->text[e], size) == 0;
}

// Checks the entries with the gram at text[q] among their grams.
void verify(const search_index* index, const char* text, size_t length, size_t q, entry_set* found) {
  uint32_t gram = load_gram(text + q);
  for (size_t c = index->head[gram_hash(gram)]; c != 0; c = index->candidate[c - 1].next) {
    size_t e = index->candidate[c - 1].entry, offset = index->candidate[c - 1].offset;
    if (index->candidate[c - 1].gram == gram && offset <= q && !is_found(found, e) &&
        stands_at(index, text, length, q - offset, e))
      mark_found(found, e);
  }
}

unsigned probe(const search_index* index, const char* at) { return index->filter[gram_hash(load_gram(at))]; }

// verify at text[q], text[q + sample_step], ...; out of line, so the probes keep registers.
__attribute__((noinline)) void verify_four(const search_index* index, const char* text, size_t length,
                                           size_t q, entry_set* found) {
  for (size_t k = 0; k < 4; ++k)
    if (probe(index, text + q + k * sample_step)) verify(index, text, length, q + k * sample_step, found);
}

}  // namespace

void find_entries(const search_index* index, const char* text, size_t length, entry_set* found) {
  // Four probes a round with one branch: nearly every round of ordinary text hits nothing.
  size_t q = 0;
  for (; q + 3 * sample_step + gram_size <= length; q += 4 * sample_step)
    if ((probe(index, text + q) | probe(index, text + q + sample_step) |
         probe(index, text + q + 2 * sample_step) | probe(index, text + q + 3 * sample_step)) != 0)
      verify_four(index, text, length, q, found);
  for (; q + gram_size <= length; q += sample_step)
    if (probe(index, text + q)) verify(index, text, length, q, found);
  for (size_t r = 0; r < index->rare_count; ++r) {
    size_t e = index->rare_entry[r], offset = index->rare_offset[r];
    char rare = index->text[e][offset];
    for (const char* at = text + offset; at < text + length; ++at) {
      at = static_cast<const char*>(memchr(at, rare, static_cast<size_t>(text + length - at)));
      if (at == nullptr) break;
      if (stands_at(index, text, length, static_cast<size_t>(at - text) - offset, e)) {
        mark_found(found, e);
        break;
      }
    }
  }
}
