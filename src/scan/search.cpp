// Signature and reply-line passes over pieces of client output.
#include "search.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif
#endif

#include "../text.h"

namespace {

enum {
  max_patterns = max_entries,
  found_words = max_patterns / 64,
#if defined(__SSE2__)
  // The first texts too short for this step are found by an anchor in the block pass,
  // the rest by the short pass.
  sample_step = 8,
  max_anchors = 2,
#else
  sample_step = 4,
  max_anchors = 0,
#endif
  gram_size = 4,
  // Bytes a pattern needs so that every occurrence covers a sampled gram: the gram at
  // the last of sample_step offsets ends sample_step + gram_size - 1 in.
  window_span = sample_step + gram_size - 1,
  filter_bits = 15,  // a 32 KiB filter: the sampled grams of text rarely hit it
  lookup_bits = 11,
  // Reply lines a piece of piece_size bytes can hold: each takes a break, a code and
  // a space.
  max_replies = piece_size / 5 + 2,
};

// Which entries a search found: a bit an entry.
struct entry_set {
  uint64_t word[found_words];
};

// The signature search samples the text every sample_step bytes. Any occurrence of a
// pattern covers a sampled position at an offset of each remainder modulo sample_step,
// so a filter of one gram per remainder (the rarest) finds every occurrence and almost
// nothing else. Patterns shorter than window_span get a two-byte anchor instead, which
// the block pass looks for at every position. Twins (texts that stand twice) are
// searched once, under their first entry.
struct pattern_index {
  bool built;
  bool usable;  // false once entries did not fit: every search then fails loudly
  size_t pattern_count;
  const char* text[max_patterns];
  size_t length[max_patterns];
  bool counts_in_reply[max_patterns];
  uint32_t last_gram[max_patterns];     // near misses tend to differ at the end
  uint8_t first_of_text[max_patterns];  // the first pattern with the same text
  // The patterns whose text holds this one's, and whether any does.
  uint64_t covered_by[max_patterns][found_words];
  bool covered[max_patterns];
  uint32_t multiplier;                       // the filter hash's
  uint8_t filter[size_t{1} << filter_bits];  // a byte a hash: no shifts to test it
  // Candidates sorted by their filter hash's top lookup_bits, with where each slot starts.
  uint16_t slot_start[(1 << lookup_bits) + 1];
  uint32_t candidate_gram[max_patterns * sample_step];
  uint8_t candidate_pattern[max_patterns * sample_step];
  uint16_t candidate_offset[max_patterns * sample_step];
  size_t anchor_count;
  char anchor[max_anchors + 1][2];
  uint8_t anchor_pattern[max_anchors + 1];
  uint8_t anchor_offset[max_anchors + 1];
  // The short pass, for the short texts that have no anchor. It samples three bytes
  // every short_step bytes, two less than the shortest such text, so that every
  // occurrence of each covers a sample; each text gives the rarest three of its bytes
  // at an offset of every remainder modulo the step. A sample's hash looks up a bit;
  // candidates are sorted by it.
  size_t short_text_count;
  uint8_t short_texts[max_patterns];
  size_t short_step;
  uint64_t short_filter[(1 << 16) / 64];
  size_t short_count;
  uint16_t short_hash[max_patterns * (window_span - 2)];
  uint8_t short_pattern[max_patterns * (window_span - 2)];
  uint8_t short_offset[max_patterns * (window_span - 2)];
};
pattern_index search_index;

// The entries the index is built from, taken and checked at once; the index itself is
// built at the first search, so that a run whose client prints nothing never pays for
// it.
struct entry_list {
  bool taken;
  bool fits;
  size_t count;
  size_t added;  // beyond the tables
  size_t longest;
  search_entry entry[max_patterns];
};
entry_list entries;

uint32_t load_gram(const char* bytes) {
  uint32_t gram;
  memcpy(&gram, bytes, sizeof gram);
  return gram;
}

uint32_t gram_hash(uint32_t gram, uint32_t multiplier) {
  return (gram * multiplier) >> (32 - filter_bits);
}
uint32_t gram_hash(uint32_t gram) { return gram_hash(gram, search_index.multiplier); }

unsigned in_filter(uint32_t hash) { return search_index.filter[hash]; }

// How often a byte turns up in ordinary client output, roughly: the grams of a pattern
// are taken where its bytes are rarest, so that listings and prose seldom pass the filter.
unsigned commonness(unsigned char c) {
  if (c == ' ') return 4;
  if (c != '\0' && strchr("etaoinsrhl", c) != nullptr) return 3;
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return 2;
  return 1;
}

// Words that fill listings and transfer messages: a gram inside one would send whole
// listings to the check behind the filter.
const char common_words[] = " file ftp the and ing ";
// The commonest pairs of letters in English text: an anchor on one of them would be
// checked many times in every page of prose.
const char common_pairs[] = "th he in er an re on at en nd ti es or te of ed is it al ar st to nt "
                            "ng se ha as ou io le ve co me de hi ri ro ic ne ea ra ce li ch ll be";

unsigned gram_score(const char* gram, size_t size) {
  unsigned score = 0;
  for (size_t b = 0; b < size; ++b) score += commonness(static_cast<unsigned char>(gram[b]));
  for (const char* w = common_words; w[size - 1] != '\0'; ++w)
    if (memcmp(w, gram, size) == 0) return score + 16;
  if (size == 2)
    for (size_t k = 0; k + 2 < sizeof common_pairs; k += 3)
      if (memcmp(common_pairs + k, gram, 2) == 0) return score + 16;
  return score;
}

// The offset of the rarest `size`-byte gram of the pattern at offsets first,
// first + stride, ... that fit in it.
size_t rarest_gram(const char* pattern, size_t length, size_t size, size_t first,
                   size_t stride) {
  size_t best = first;
  unsigned best_score = ~0u;
  for (size_t o = first; o + size <= length; o += stride) {
    unsigned score = gram_score(pattern + o, size);
    if (score < best_score) {
      best_score = score;
      best = o;
    }
  }
  return best;
}

// Whether a pair's first byte can share the joint pass's table of first bytes (indexed by
// their low four bits) with the line breaks and the anchors chosen so far.
bool fits_first_table(char first) {
  unsigned char c = static_cast<unsigned char>(first);
  if (c >= 0x80 || (c & 15) == ('\n' & 15) || (c & 15) == ('\r' & 15)) return false;
  for (size_t a = 0; a < search_index.anchor_count; ++a) {
    unsigned char other = static_cast<unsigned char>(search_index.anchor[a][0]);
    if ((other & 15) == (c & 15) && other != c) return false;
  }
  return true;
}

// The anchor of a short pattern: its rarest pair of bytes among those that fit the
// table, else its rarest (and the joint pass then stands aside).
size_t anchor_offset(const char* pattern, size_t length) {
  size_t best = 0;
  unsigned best_score = ~0u;
  for (size_t o = 0; o + 2 <= length; ++o) {
    unsigned score = gram_score(pattern + o, 2) + (fits_first_table(pattern[o]) ? 0 : 1000);
    if (score < best_score) {
      best_score = score;
      best = o;
    }
  }
  return best;
}

// A multiplier for the filter's hash under which the grams of common_words that are no
// candidate's miss the filter: one such gram sampled all through a listing would send
// it all to verify. The first of a few that does; else the one that lets fewest in.
uint32_t quiet_multiplier(const uint32_t* grams, size_t count) {
  static const uint32_t multipliers[] = {2654435761u, 2246822519u, 3266489917u, 668265263u,
                                         374761393u,  2869860233u, 3432918353u, 461845907u};
  // The grams of common_words that no candidate has: these must miss.
  uint32_t quiet[sizeof common_words];
  size_t quiet_count = 0;
  for (const char* w = common_words; w[gram_size - 1] != '\0'; ++w) {
    uint32_t gram = load_gram(w);
    bool candidate = false;
    for (size_t c = 0; c < count && !candidate; ++c) candidate = grams[c] == gram;
    if (!candidate) quiet[quiet_count++] = gram;
  }
  uint32_t best = multipliers[0];
  size_t best_hits = ~size_t{0};
  for (uint32_t multiplier : multipliers) {
    for (size_t c = 0; c < count; ++c) search_index.filter[gram_hash(grams[c], multiplier)] = 1;
    size_t hits = 0;
    for (size_t q = 0; q < quiet_count; ++q)
      hits += search_index.filter[gram_hash(quiet[q], multiplier)];
    memset(search_index.filter, 0, sizeof search_index.filter);
    if (hits < best_hits) {
      best = multiplier;
      best_hits = hits;
    }
    if (hits == 0) break;
  }
  return best;
}

// The hash of the three bytes at `bytes`, read with the byte after them, which must be
// there to read.
uint16_t hash_three(const char* bytes) {
  return static_cast<uint16_t>((load_gram(bytes) & 0xffffffu) * 2654435761u >> 16);
}

// The same for three bytes with nothing after them to read.
uint16_t hash_last_three(const char* bytes) {
  char four[4] = {bytes[0], bytes[1], bytes[2], 0};
  return hash_three(four);
}

// Places the pattern p, a text too short for the sampled filter: under an anchor while
// there is one to spare, else in the short pass.
void place_short(size_t p) {
  const char* text = search_index.text[p];
  size_t length = search_index.length[p];
  if (search_index.anchor_count < max_anchors) {
    size_t offset = anchor_offset(text, length);  // before this one counts
    size_t a = search_index.anchor_count++;
    memcpy(search_index.anchor[a], text + offset, 2);
    search_index.anchor_pattern[a] = static_cast<uint8_t>(p);
    search_index.anchor_offset[a] = static_cast<uint8_t>(offset);
    return;
  }
  search_index.short_texts[search_index.short_text_count++] = static_cast<uint8_t>(p);
}

// Registers the short pass's candidates, once every short text is known.
void build_short_pass() {
  size_t step = window_span;
  for (size_t k = 0; k < search_index.short_text_count; ++k)
    if (search_index.length[search_index.short_texts[k]] - 2 < step)
      step = search_index.length[search_index.short_texts[k]] - 2;
  search_index.short_step = step;
  size_t count = 0;
  for (size_t k = 0; k < search_index.short_text_count; ++k) {
    size_t p = search_index.short_texts[k];
    for (size_t r = 0; r < step; ++r) {
      size_t o = rarest_gram(search_index.text[p], search_index.length[p], 3, r, step);
      uint16_t hash = hash_last_three(search_index.text[p] + o);
      // Insertion by hash, so that a hit looks its candidates up in order.
      size_t at = count++;
      for (; at > 0 && search_index.short_hash[at - 1] > hash; --at) {
        search_index.short_hash[at] = search_index.short_hash[at - 1];
        search_index.short_pattern[at] = search_index.short_pattern[at - 1];
        search_index.short_offset[at] = search_index.short_offset[at - 1];
      }
      search_index.short_hash[at] = hash;
      search_index.short_pattern[at] = static_cast<uint8_t>(p);
      search_index.short_offset[at] = static_cast<uint8_t>(o);
      search_index.short_filter[hash / 64] |= uint64_t{1} << (hash % 64);
    }
  }
  search_index.short_count = count;
}

// Takes the entries in order into `entries`; false when one does not fit the index.
bool take_entries(const search_entry* extra, size_t extra_count) {
  entries = {};
  entries.taken = true;
  auto take = [](const char* text, size_t length, bool counts_in_reply) {
    if (entries.count == max_patterns || length < min_entry_length || length > max_entry_length ||
        memchr(text, '\0', length) != nullptr)
      return false;
    entries.entry[entries.count++] = {text, length, counts_in_reply};
    if (length > entries.longest) entries.longest = length;
    return true;
  };
  for (size_t e = 0; e < signature_count; ++e)
    if (!take(error_signatures[e], strlen(error_signatures[e]), true)) return false;
  for (size_t e = 0; e < client_signature_count; ++e)
    if (!take(client_signatures[e], strlen(client_signatures[e]), false)) return false;
  size_t tables = entries.count;
  for (size_t e = 0; e < extra_count; ++e) {
    // A text given again keeps its first place, and counts in a reply line if either
    // entry does.
    bool known = false;
    for (size_t p = 0; p < entries.count && !known; ++p) {
      known = entries.entry[p].length == extra[e].length &&
              memcmp(entries.entry[p].text, extra[e].text, extra[e].length) == 0;
      if (known) entries.entry[p].counts_in_reply |= extra[e].counts_in_reply;
    }
    if (!known && !take(extra[e].text, extra[e].length, extra[e].counts_in_reply)) return false;
  }
  entries.added = entries.count - tables;
  return true;
}

void choose_joint_pass(int widest);
void find_containers();

// Builds the index from `entries`, taking the tables alone if nobody gave any.
void build_index() {
  if (!entries.taken) entries.fits = take_entries(nullptr, 0);
  memset(&search_index, 0, sizeof search_index);
  search_index.built = true;
  if (!entries.fits) return;
  size_t count = entries.count;
  search_index.pattern_count = count;
  for (size_t p = 0; p < count; ++p) {
    search_index.text[p] = entries.entry[p].text;
    search_index.length[p] = entries.entry[p].length;
    search_index.counts_in_reply[p] = entries.entry[p].counts_in_reply;
  }
  uint16_t slot_size[1 << lookup_bits] = {};
  size_t candidates = 0;
  uint32_t hash_of[max_patterns * sample_step];
  for (size_t p = 0; p < count; ++p) {
    const char* text = search_index.text[p];
    size_t length = search_index.length[p];
    search_index.last_gram[p] = load_gram(text + length - gram_size);
    search_index.first_of_text[p] = static_cast<uint8_t>(p);
    for (size_t q = 0; q < p; ++q) {
      if (search_index.length[q] == length && memcmp(search_index.text[q], text, length) == 0) {
        search_index.first_of_text[p] = static_cast<uint8_t>(q);
        break;
      }
    }
    if (search_index.first_of_text[p] != p) continue;
    if (length < window_span) {
      place_short(p);
      continue;
    }
    for (size_t r = 0; r < sample_step; ++r) {
      size_t o = rarest_gram(text, length, gram_size, r, sample_step);
      search_index.candidate_gram[candidates] = load_gram(text + o);
      search_index.candidate_pattern[candidates] = static_cast<uint8_t>(p);
      search_index.candidate_offset[candidates] = static_cast<uint16_t>(o);
      ++candidates;
    }
  }

  build_short_pass();
  search_index.multiplier = quiet_multiplier(search_index.candidate_gram, candidates);
  for (size_t c = 0; c < candidates; ++c) {
    uint32_t hash = gram_hash(search_index.candidate_gram[c]);
    search_index.filter[hash] = 1;
    hash_of[c] = hash;
    ++slot_size[hash >> (filter_bits - lookup_bits)];
  }

  // Sort the candidates by slot, in place, by counting.
  uint16_t next = 0;
  for (size_t s = 0; s < (1 << lookup_bits); ++s) {
    search_index.slot_start[s] = next;
    next = static_cast<uint16_t>(next + slot_size[s]);
  }
  search_index.slot_start[1 << lookup_bits] = next;
  static uint32_t gram[max_patterns * sample_step];
  static uint8_t pattern[max_patterns * sample_step];
  static uint16_t offset[max_patterns * sample_step];
  memcpy(gram, search_index.candidate_gram, sizeof gram);
  memcpy(pattern, search_index.candidate_pattern, sizeof pattern);
  memcpy(offset, search_index.candidate_offset, sizeof offset);
  uint16_t filled[1 << lookup_bits] = {};
  for (size_t c = 0; c < candidates; ++c) {
    size_t s = hash_of[c] >> (filter_bits - lookup_bits);
    size_t at = search_index.slot_start[s] + filled[s]++;
    search_index.candidate_gram[at] = gram[c];
    search_index.candidate_pattern[at] = pattern[c];
    search_index.candidate_offset[at] = offset[c];
  }
  search_index.usable = true;
  choose_joint_pass(1);
  // The tables hold no text inside another, which a test checks: only entries added
  // beside them can.
  if (entries.added > 0) find_containers();
}

}  // namespace

bool build_search_index(const search_entry* extra, size_t extra_count) {
  entries.fits = take_entries(extra, extra_count);
  search_index.built = false;
  return entries.fits;
}

size_t search_entry_count() {
  if (!entries.taken) entries.fits = take_entries(nullptr, 0);
  return entries.fits ? entries.count : 0;
}

search_entry search_entry_at(size_t entry) { return entries.entry[entry]; }

bool search_entry_covered(size_t entry, const uint64_t* found) {
  if (!search_index.built) build_index();
  if (!search_index.covered[entry]) return false;
  for (size_t w = 0; w < found_words; ++w)
    if ((search_index.covered_by[entry][w] & found[w]) != 0) return true;
  return false;
}

size_t longest_search_entry() {
  if (!entries.taken) entries.fits = take_entries(nullptr, 0);
  return entries.longest;
}

namespace {

bool is_found(const entry_set* found, size_t p) { return (found->word[p / 64] >> (p % 64) & 1) != 0; }
void mark_found(entry_set* found, size_t p) { found->word[p / 64] |= uint64_t{1} << (p % 64); }
bool found_any(const entry_set* found) {
  uint64_t any = 0;
  for (uint64_t word : found->word) any |= word;
  return any != 0;
}

// Checks the patterns with `gram` among their grams, sampled at text[q].
void verify(const char* text, size_t length, size_t q, uint32_t gram, uint32_t hash,
            entry_set* found) {
  size_t slot = hash >> (filter_bits - lookup_bits);
  for (size_t c = search_index.slot_start[slot]; c < search_index.slot_start[slot + 1]; ++c) {
    if (search_index.candidate_gram[c] != gram) continue;
    size_t p = search_index.candidate_pattern[c];
    size_t offset = search_index.candidate_offset[c];
    size_t size = search_index.length[p];
    if (is_found(found, p) || offset > q || q - offset + size > length) continue;
    const char* start = text + q - offset;
    if (load_gram(start + size - gram_size) != search_index.last_gram[p]) continue;
    if (memcmp(start, search_index.text[p], size) == 0) mark_found(found, p);
  }
}

unsigned probe(const char* at) { return in_filter(gram_hash(load_gram(at))); }

// Probes the gram at text[q] and verifies it if the filter lets it through.
void probe_and_verify(const char* text, size_t length, size_t q, entry_set* found) {
  uint32_t gram = load_gram(text + q);
  uint32_t hash = gram_hash(gram);
  if (in_filter(hash)) verify(text, length, q, gram, hash, found);
}

// probe_and_verify at text[q], text[q + sample_step], ... Out of line: the loops that
// probe keep nothing for it.
__attribute__((noinline)) void verify_four(const char* text, size_t length, size_t q,
                                           entry_set* found) {
  for (size_t k = 0; k < 4; ++k) probe_and_verify(text, length, q + k * sample_step, found);
}

// The four probes at text[q], text[q + sample_step], ... with one branch: nearly every
// step of ordinary text hits nothing. Reads text[q, q + 3 * sample_step + gram_size).
inline void probe_four(const char* text, size_t length, size_t q, entry_set* found) {
  if ((probe(text + q) | probe(text + q + sample_step) | probe(text + q + 2 * sample_step) |
       probe(text + q + 3 * sample_step)) != 0)
    verify_four(text, length, q, found);
}

// Marks in `found` every pattern that occurs in text[0, length) and covers a sampled
// position from `from` (a multiple of sample_step) on, each under the first pattern
// with its text.
void find_patterns(const char* text, size_t from, size_t length, entry_set* found) {
  size_t q = from;
  for (; q + 4 * sample_step <= length; q += 4 * sample_step) probe_four(text, length, q, found);
  for (; q + gram_size <= length; q += sample_step) probe_and_verify(text, length, q, found);
}

// Checks the short patterns whose three bytes' hash was sampled at text[q].
__attribute__((noinline)) void verify_short(const char* text, size_t length, size_t q,
                                            uint16_t hash, entry_set* found) {
  size_t c = 0, end = search_index.short_count;
  while (c < end) {  // the first candidate with this hash
    size_t middle = c + (end - c) / 2;
    if (search_index.short_hash[middle] < hash)
      c = middle + 1;
    else
      end = middle;
  }
  for (; c < search_index.short_count && search_index.short_hash[c] == hash; ++c) {
    size_t p = search_index.short_pattern[c], offset = search_index.short_offset[c];
    size_t size = search_index.length[p];
    if (offset > q || q - offset + size > length || is_found(found, p)) continue;
    if (memcmp(text + q - offset, search_index.text[p], size) == 0) mark_found(found, p);
  }
}

bool short_sampled(uint16_t hash) {
  return (search_index.short_filter[hash / 64] >> (hash % 64) & 1) != 0;
}

// Marks in `found` every short pattern of the short pass that occurs in text[0, length).
void find_short(const char* text, size_t length, entry_set* found) {
  size_t step = search_index.short_step;
  size_t q = 0;
  // Four samples a round with one branch: nearly every round hits nothing. Each reads
  // four bytes and hashes the first three; the last samples read only their three.
  for (; q + 3 * step + 4 <= length; q += 4 * step) {
    uint16_t a = hash_three(text + q), b = hash_three(text + q + step);
    uint16_t c = hash_three(text + q + 2 * step), d = hash_three(text + q + 3 * step);
    if (!(short_sampled(a) | short_sampled(b) | short_sampled(c) | short_sampled(d))) continue;
    for (size_t k = 0; k < 4; ++k) {
      uint16_t hash = hash_three(text + q + k * step);
      if (short_sampled(hash)) verify_short(text, length, q + k * step, hash, found);
    }
  }
  for (; q + 3 <= length; q += step) {
    uint16_t hash = hash_last_three(text + q);
    if (short_sampled(hash)) verify_short(text, length, q, hash, found);
  }
}

bool is_break(unsigned char c) { return c == '\n' || c == '\r'; }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Whether a reply line starts at text[start] within text[0, length): a code from 400
// to 999 and a space, and not the client's transfer statistics, whose byte count can
// look like a code ("631 bytes sent in 00:00").
bool reply_at(const char* text, size_t length, size_t start) {
  if (length - start < 4) return false;
  const char* code = text + start;
  if (!(code[0] >= '4' && code[0] <= '9' && is_digit(static_cast<unsigned char>(code[1])) &&
        is_digit(static_cast<unsigned char>(code[2])) && code[3] == ' '))
    return false;
  static const char sent[] = "bytes sent in ", received[] = "bytes received in ";
  size_t rest = length - start - 4;
  return !((rest >= sizeof sent - 1 && memcmp(code + 4, sent, sizeof sent - 1) == 0) ||
           (rest >= sizeof received - 1 && memcmp(code + 4, received, sizeof received - 1) == 0));
}

// Where the reply line that a mark at text[i] opens starts, or 0 for none. A reply
// starts after a line break, or right after the client's prompt "ftp> ": a client
// that reads its commands from a file echoes none, so the reply shares the prompt's
// line. Marks are a break, or the "> " that ends a prompt.
size_t reply_after(const char* text, size_t length, size_t i) {
  if (is_break(static_cast<unsigned char>(text[i])))
    return reply_at(text, length, i + 1) ? i + 1 : 0;
  if (text[i] == '>' && i >= 3 && length - i >= 2 && text[i + 1] == ' ' &&
      memcmp(text + i - 3, "ftp", 3) == 0 && reply_at(text, length, i + 2))
    return i + 2;
  return 0;
}

// The reply lines the block pass found, by where their codes start; handed on after
// the known messages. A piece of piece_size bytes fits; past that (a longer chunk from
// a caller), the rest is searched again when the list has been handed on.
struct reply_list {
  size_t count;
  size_t start[max_replies];
  size_t resume;  // the break before the first reply not in the list, or SIZE_MAX
};

// Looks at text[i], which the block pass marked: the line break or prompt before a
// reply line, or an anchor of a short pattern. `searched` ends the text that patterns
// may lie in.
void check_mark(const char* text, size_t length, size_t searched, size_t i, reply_list* replies,
                entry_set* found) {
  // A block's padding past the piece marks nothing, unless an unused anchor slot's
  // zeros match its zeros.
  if (i >= length) return;
  if (size_t start = reply_after(text, length, i)) {
    if (replies->count < max_replies)
      replies->start[replies->count++] = start;
    else if (replies->resume == SIZE_MAX)
      replies->resume = i;
  }
  for (size_t a = 0; a < search_index.anchor_count; ++a) {
    const char* anchor = search_index.anchor[a];
    size_t p = search_index.anchor_pattern[a], offset = search_index.anchor_offset[a];
    size_t size = search_index.length[p];
    if (text[i] != anchor[0] || i + 1 >= searched || text[i + 1] != anchor[1] || offset > i ||
        i - offset + size > searched)
      continue;
    if (memcmp(text + i - offset, search_index.text[p], size) == 0) mark_found(found, p);
  }
}

#if defined(__SSE2__)
enum { block_reach = 4 };  // bytes a block's marks read past it

// Anchor slots a table does not use repeat the first, or hold zeros when no pattern
// needs one: check_mark looks only at the slots in use, and only inside the piece.
void anchor_bytes(size_t a, char* first, char* second) {
  size_t slot = a < search_index.anchor_count ? a : 0;
  *first = search_index.anchor_count > 0 ? search_index.anchor[slot][0] : '\0';
  *second = search_index.anchor_count > 0 ? search_index.anchor[slot][1] : '\0';
}

// Hands check_mark every byte of text[from, length) that it has something to look at:
// a line break, then a digit from 4 to 9, then a space three bytes on; the "> " of a
// prompt; or the first byte of a short pattern's anchor. Returns where it stopped:
// here, at the end.
size_t block_pass(const char* text, size_t from, size_t length, size_t searched,
                  reply_list* replies, entry_set* found) {
  char a0, b0, a1, b1;
  anchor_bytes(0, &a0, &b0);
  anchor_bytes(1, &a1, &b1);
  const __m128i first0 = _mm_set1_epi8(a0), second0 = _mm_set1_epi8(b0);
  const __m128i first1 = _mm_set1_epi8(a1), second1 = _mm_set1_epi8(b1);
  // The last blocks are read from a copy padded with zeros, which mark nothing.
  char padded[2 * 16 + block_reach] = {};
  size_t padded_from = length;  // where the copy starts, once made
  for (size_t i = from; i < length; i += 16) {
    if (padded_from == length && i + 16 + block_reach > length) {
      memcpy(padded, text + i, length - i);
      padded_from = i;
    }
    const char* block = i < padded_from ? text + i : padded + (i - padded_from);
    __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 1));
    __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 4));
    __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(at, _mm_set1_epi8('\n')),
                                  _mm_cmpeq_epi8(at, _mm_set1_epi8('\r')));
    __m128i above_four = _mm_sub_epi8(next, _mm_set1_epi8('4'));
    __m128i error_digit = _mm_cmpeq_epi8(_mm_min_epu8(above_four, _mm_set1_epi8(5)), above_four);
    __m128i space = _mm_cmpeq_epi8(after, _mm_set1_epi8(' '));
    __m128i anchors = _mm_or_si128(
        _mm_and_si128(_mm_cmpeq_epi8(at, first0), _mm_cmpeq_epi8(next, second0)),
        _mm_and_si128(_mm_cmpeq_epi8(at, first1), _mm_cmpeq_epi8(next, second1)));
    __m128i replies_here = _mm_and_si128(_mm_and_si128(breaks, error_digit), space);
    __m128i prompts = _mm_and_si128(_mm_cmpeq_epi8(at, _mm_set1_epi8('>')),
                                    _mm_cmpeq_epi8(next, _mm_set1_epi8(' ')));
    __m128i marks = _mm_or_si128(_mm_or_si128(replies_here, anchors), prompts);
    for (unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(marks)); bits != 0;
         bits &= bits - 1)
      check_mark(text, length, searched, i + static_cast<size_t>(__builtin_ctz(bits)), replies,
                 found);
  }
  return length;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
// Where AVX2 runs, one loop does the block pass and the probes together: the probes
// use the integer units while the block pass uses the vector units. It stops at the
// first block with a zero byte in it, or where a block would read past the piece, and
// returns where; from there the portable passes take over.
__attribute__((target("avx2"))) size_t joint_pass_avx2(const char* text, size_t length,
                                                         reply_list* replies, entry_set* found) {
  static_assert(4 * sample_step == 32, "one block, four probes");
  char a0, b0, a1, b1;
  anchor_bytes(0, &a0, &b0);
  anchor_bytes(1, &a1, &b1);
  // Line breaks and the anchors' first bytes, each at its own low four bits; 0x80 in the
  // other places matches no byte (a byte from 0x80 up looks up 0).
  char table[16];
  memset(table, 0x80, sizeof table);
  table['\n' & 15] = '\n';
  table['\r' & 15] = '\r';
  table[a0 & 15] = a0;
  table[a1 & 15] = a1;
  const __m256i firsts =
      _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(table)));
  const __m256i second0 = _mm256_set1_epi8(b0), second1 = _mm256_set1_epi8(b1);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i prompt_end = _mm256_set1_epi8('>'), blank = _mm256_set1_epi8(' ');
  // A digit from 4 to 9 is, moved by `bias`, a signed byte below `digit_limit`.
  const __m256i bias = _mm256_set1_epi8(static_cast<char>(-128 - '4'));
  const __m256i digit_limit = _mm256_set1_epi8(-128 + 6);
  size_t i = 0;
  for (; i + 32 + block_reach <= length; i += 32) {
    const char* block = text + i;
    __m256i at = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
    __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 1));
    // A break or an anchor's first byte, then a digit from 4 to 9 or an anchor's second
    // byte. The crossed pairs it also marks are rare, and check_mark sorts them out, as
    // it checks the space after a code.
    __m256i first = _mm256_cmpeq_epi8(_mm256_shuffle_epi8(firsts, at), at);
    __m256i second = _mm256_or_si256(
        _mm256_cmpgt_epi8(digit_limit, _mm256_add_epi8(next, bias)),
        _mm256_or_si256(_mm256_cmpeq_epi8(next, second0), _mm256_cmpeq_epi8(next, second1)));
    // The "> " that ends a prompt, after which a reply may stand.
    __m256i prompts = _mm256_and_si256(_mm256_cmpeq_epi8(at, prompt_end),
                                       _mm256_cmpeq_epi8(next, blank));
    // Zero bytes are marked too, so that one test covers the rare cases.
    __m256i zeros = _mm256_cmpeq_epi8(at, zero);
    __m256i marks =
        _mm256_or_si256(_mm256_or_si256(_mm256_and_si256(first, second), prompts), zeros);
    unsigned bits = static_cast<unsigned>(_mm256_movemask_epi8(marks));
    if (bits != 0) {
      if (_mm256_movemask_epi8(zeros) != 0) break;
      // No zero byte up to here: a pattern found now lies in the searched text, or
      // would hold a zero byte, which no pattern does.
      for (; bits != 0; bits &= bits - 1)
        check_mark(text, length, length, i + static_cast<size_t>(__builtin_ctz(bits)), replies,
                   found);
    }
    probe_four(text, length, i, found);
  }
  return i;
}

#define VESKAR_JOINT_PASSES 1
#endif

typedef size_t (*joint_pass_function)(const char*, size_t, reply_list*, entry_set*);
joint_pass_function joint_pass = nullptr;

// The widest joint pass the processor runs, up to `widest` (see limit_scan_passes).
void choose_joint_pass(int widest) {
  joint_pass = nullptr;
#if defined(VESKAR_JOINT_PASSES)
  // Anchors that cannot share the joint pass's table leave the portable passes to it.
  bool anchors_fit = true;
  for (size_t a = 0; a < search_index.anchor_count; ++a)
    anchors_fit = anchors_fit && fits_first_table(search_index.anchor[a][0]);
  if (widest >= 1 && anchors_fit && __builtin_cpu_supports("avx2")) joint_pass = joint_pass_avx2;
#endif
  (void)widest;
}

#else
// Without SSE2 there are no anchors (sample_step 4 suits every pattern), and the block
// pass only skips, eight bytes a word, the stretches with no line break followed by a
// space four bytes on, and no "> ".
uint64_t zero_bytes(uint64_t x) {
  const uint64_t low7 = 0x7f7f7f7f7f7f7f7fu;
  return ~(((x & low7) + low7) | x | low7);
}

size_t block_pass(const char* text, size_t from, size_t length, size_t searched,
                  reply_list* replies, entry_set* found) {
  const uint64_t ones = 0x0101010101010101u;
  size_t i = from;
  for (; i + 8 + 4 <= length; i += 8) {
    uint64_t at, next, after;
    memcpy(&at, text + i, sizeof at);
    memcpy(&next, text + i + 1, sizeof next);
    memcpy(&after, text + i + 4, sizeof after);
    uint64_t breaks = zero_bytes(at ^ (ones * '\n')) | zero_bytes(at ^ (ones * '\r'));
    uint64_t prompts = zero_bytes(at ^ (ones * '>')) & zero_bytes(next ^ (ones * ' '));
    if (((breaks & zero_bytes(after ^ (ones * ' '))) | prompts) == 0) continue;
    for (size_t j = 0; j < 8; ++j) check_mark(text, length, searched, i + j, replies, found);
  }
  return i;
}

typedef size_t (*joint_pass_function)(const char*, size_t, reply_list*, entry_set*);
const joint_pass_function joint_pass = nullptr;

void choose_joint_pass(int) {}
#endif

// What one search of a text found: the patterns it holds, where its reply lines start,
// and where the text that patterns may lie in ends (its first zero byte, or its end).
struct sign_finds {
  entry_set found;
  reply_list replies;
  size_t searched;
};

// Searches text[0, length), whose stream byte before it was `before`, for every sign.
void search_piece(const char* text, size_t length, char before, sign_finds* finds) {
  memset(&finds->found, 0, sizeof finds->found);
  reply_list* replies = &finds->replies;
  replies->count = 0;
  replies->resume = SIZE_MAX;
  if (is_break(static_cast<unsigned char>(before)) && reply_at(text, length, 0))
    replies->start[replies->count++] = 0;
  size_t done = joint_pass != nullptr ? joint_pass(text, length, replies, &finds->found) : 0;
  // Each entry is searched as a C string: a zero byte ends the text it can lie in.
  const void* zero = memchr(text + done, '\0', length - done);
  finds->searched = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : length;
  find_patterns(text, done, finds->searched, &finds->found);
  if (search_index.short_count > 0) find_short(text, finds->searched, &finds->found);
  for (size_t i = block_pass(text, done, length, finds->searched, replies, &finds->found);
       i < length; ++i)
    check_mark(text, length, finds->searched, i, replies, &finds->found);
}

// Marks each pattern whose text stands inside a longer one's, with the search itself.
void find_containers() {
  static sign_finds finds;
  for (size_t q = 0; q < search_index.pattern_count; ++q) {
    search_piece(search_index.text[q], search_index.length[q], '\n', &finds);
    for (size_t p = 0; p < search_index.pattern_count; ++p) {
      if (search_index.length[p] >= search_index.length[q] ||
          !is_found(&finds.found, search_index.first_of_text[p]))
        continue;
      search_index.covered_by[p][q / 64] |= uint64_t{1} << (q % 64);
      search_index.covered[p] = true;
    }
  }
}

// Whether a found pattern counts in its line. A reply line is a sign of its own, and
// servers put the C library's words in their replies ("550 x: No such file or
// directory"): the client's own messages count only before the line's first reply.
bool counts_in_line(const char* text, const sign_finds* finds, size_t p) {
  if (search_index.counts_in_reply[p] || finds->replies.count == 0) return true;
  size_t reply = finds->replies.start[0];
  size_t end = reply < finds->searched ? reply : finds->searched;
  return text_holds(text, end, search_index.text[p], search_index.length[p]);
}

// Whether a pattern whose text holds pattern p's counts in the line too.
bool held_by_another(const char* text, const sign_finds* finds, size_t p) {
  for (size_t q = 0; q < search_index.pattern_count; ++q)
    if ((search_index.covered_by[p][q / 64] >> (q % 64) & 1) != 0 &&
        is_found(&finds->found, search_index.first_of_text[q]) &&
        counts_in_line(text, finds, search_index.first_of_text[q]))
      return true;
  return false;
}

// The line around text[at] within text[0, length), without its line feed.
void line_around(const char* text, size_t length, size_t at, size_t* start, size_t* size) {
  size_t from = at;
  while (from > 0 && text[from - 1] != '\n') --from;
  const void* feed = memchr(text + at, '\n', length - at);
  size_t end = feed ? static_cast<size_t>(static_cast<const char*>(feed) - text) : length;
  *start = from;
  *size = end - from;
}

// Hands `sink` the reply line that starts at text[start]: its text runs to the first
// line feed, which must come before the piece's end and any zero byte.
void hand_reply(const char* text, size_t length, size_t start, sign_sink sink, void* context) {
  found_sign sign = {};
  sign.kind = sign_reply;
  sign.at = start;
  size_t end = start + 4;
  while (end < length && text[end] != '\n' && text[end] != '\0') ++end;
  if (end < length && text[end] == '\n') {
    sign.text = text + start;
    sign.length = end - start;
  }
  size_t line;
  line_around(text, length, start, &line, &sign.line_length);
  sign.line = text + line;
  sink(&sign, context);
}

// Hands on the signs of text[0, length), a single line: its known messages in table
// order, then its reply lines. Also right for several lines that hold reply lines
// alone, in the order of the text.
void hand_signs(const char* text, size_t length, const sign_finds* finds, sign_sink sink,
                void* context) {
  if (found_any(&finds->found)) {
    found_sign sign = {};
    sign.kind = sign_message;
    sign.line = text;
    size_t line;
    line_around(text, length, 0, &line, &sign.line_length);
    for (size_t p = 0; p < search_index.pattern_count; ++p) {
      if (!is_found(&finds->found, search_index.first_of_text[p])) continue;
      if (!counts_in_line(text, finds, search_index.first_of_text[p])) continue;
      if (search_index.covered[p] && held_by_another(text, finds, p)) continue;
      sign.text = search_index.text[p];
      sign.length = search_index.length[p];
      sign.entry = p;
      sign.counts_in_reply = search_index.counts_in_reply[p];
      sink(&sign, context);
    }
  }
  const reply_list& replies = finds->replies;
  for (size_t r = 0; r < replies.count; ++r) hand_reply(text, length, replies.start[r], sink, context);
  for (size_t i = replies.resume; i < length; ++i)
    if (size_t start = reply_after(text, length, i)) hand_reply(text, length, start, sink, context);
}

}  // namespace

void limit_scan_passes(int widest) {
  if (!search_index.built) build_index();
  choose_joint_pass(widest);
}

void find_signs(const char* text, size_t length, char before, sign_sink sink, void* context) {
  if (!search_index.built) build_index();
  // Entries that did not fit must not go missing in silence.
  if (!search_index.usable) abort();
  // One search of the whole piece; nearly always it finds no known message, and its
  // reply lines, if any, are then its signs in line order.
  static sign_finds finds;
  search_piece(text, length, before, &finds);
  bool messages = found_any(&finds.found);
  const char* feed = static_cast<const char*>(memchr(text, '\n', length));
  bool one_line = feed == nullptr || feed == text + length - 1;
  if (one_line || (!messages && finds.searched == length)) {
    hand_signs(text, length, &finds, sink, context);
    return;
  }
  // Several lines, with a known message or a zero byte among them: each line is
  // searched by itself, so that the signs follow the lines and a line's zero byte
  // hides nothing in the next.
  for (size_t start = 0; start < length;) {
    const char* end = static_cast<const char*>(memchr(text + start, '\n', length - start));
    size_t size = end == nullptr ? length - start : static_cast<size_t>(end - text) + 1 - start;
    search_piece(text + start, size, start == 0 ? before : '\n', &finds);
    hand_signs(text + start, size, &finds, sink, context);
    start += size;
  }
}
