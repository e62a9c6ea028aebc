// Signature and reply-line passes over pieces of client output, and their reports.
#include "scan.h"

#include <stdint.h>
#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "../handles.h"
#include "../platform/platform.h"

int exit_status = status_no_sign;

namespace {

const char report_banner[] = "*************** Error Found ***************\n";
const char report_text_format[] = "Error text: %s\n";

enum {
  max_patterns = max_signatures,
  sample_step = 4,
  gram_size = 4,
  // Bytes a pattern needs so that every occurrence covers a sampled gram in a window
  // of sample_step offsets: the window's last gram ends sample_step + gram_size - 1 in.
  window_span = sample_step + gram_size - 1,
  filter_bits = 15,  // a 32 KiB filter: the sampled grams of text rarely hit it
  lookup_bits = 11,
};

// The signature search samples every fourth position of the text. For each pattern
// one window of four consecutive offsets is chosen; any occurrence of the pattern
// covers a sampled position at one of them, with the gram there inside the pattern.
// So a filter of the windows' grams finds every occurrence and almost nothing else.
// Twins (texts that stand twice) are searched once, under their first entry.
struct pattern_index {
  bool built;
  size_t pattern_count;
  const char* text[max_patterns];
  size_t length[max_patterns];
  uint32_t last_gram[max_patterns];     // near misses tend to differ at the end
  uint8_t first_of_text[max_patterns];  // the first pattern with the same text
  uint8_t filter[size_t{1} << filter_bits];  // a byte a hash: no shifts to test it
  // Candidates sorted by their filter hash's top lookup_bits, with where each slot starts.
  uint16_t slot_start[(1 << lookup_bits) + 1];
  uint32_t candidate_gram[max_patterns * sample_step];
  uint8_t candidate_pattern[max_patterns * sample_step];
  uint8_t candidate_offset[max_patterns * sample_step];
};
pattern_index index;

uint32_t load_gram(const char* bytes) {
  uint32_t gram;
  memcpy(&gram, bytes, sizeof gram);
  return gram;
}

uint32_t gram_hash(uint32_t gram) { return (gram * 2654435761u) >> (32 - filter_bits); }

unsigned in_filter(uint32_t hash) { return index.filter[hash]; }

// How often a byte turns up in ordinary client output, roughly: the window of a pattern
// is put where its bytes are rarest, so that listings and prose seldom pass the filter.
unsigned commonness(unsigned char c) {
  if (c == ' ') return 4;
  if (c != '\0' && strchr("etaoinsrhl", c) != nullptr) return 3;
  if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return 2;
  return 1;
}

size_t rarest_window(const char* pattern, size_t length) {
  static const unsigned weight[window_span] = {1, 2, 3, 4, 3, 2, 1};  // grams covering it
  size_t best = 0;
  unsigned best_score = ~0u;
  for (size_t k = 0; k + window_span <= length; ++k) {
    unsigned score = 0;
    for (size_t b = 0; b < window_span; ++b)
      score += weight[b] * commonness(static_cast<unsigned char>(pattern[k + b]));
    if (score < best_score) {
      best_score = score;
      best = k;
    }
  }
  return best;
}

void build_index() {
  size_t count = 0;
  for (size_t e = 0; e < signature_count; ++e) index.text[count++] = error_signatures[e];
  for (size_t e = 0; e < client_signature_count && count < max_patterns; ++e)
    index.text[count++] = client_signatures[e];
  index.pattern_count = count;

  uint16_t slot_size[1 << lookup_bits] = {};
  size_t candidates = 0;
  uint32_t hash_of[max_patterns * sample_step];
  for (size_t p = 0; p < count; ++p) {
    index.length[p] = strlen(index.text[p]);
    index.last_gram[p] = load_gram(index.text[p] + index.length[p] - gram_size);
    index.first_of_text[p] = static_cast<uint8_t>(p);
    for (size_t q = 0; q < p; ++q) {
      if (strcmp(index.text[q], index.text[p]) == 0) {
        index.first_of_text[p] = static_cast<uint8_t>(q);
        break;
      }
    }
    if (index.first_of_text[p] != p) continue;
    size_t window = rarest_window(index.text[p], index.length[p]);
    for (size_t o = window; o < window + sample_step; ++o) {
      uint32_t gram = load_gram(index.text[p] + o);
      uint32_t hash = gram_hash(gram);
      index.filter[hash] = 1;
      index.candidate_gram[candidates] = gram;
      index.candidate_pattern[candidates] = static_cast<uint8_t>(p);
      index.candidate_offset[candidates] = static_cast<uint8_t>(o);
      hash_of[candidates] = hash;
      ++slot_size[hash >> (filter_bits - lookup_bits)];
      ++candidates;
    }
  }

  // Sort the candidates by slot, in place, by counting.
  uint16_t next = 0;
  for (size_t s = 0; s < (1 << lookup_bits); ++s) {
    index.slot_start[s] = next;
    next = static_cast<uint16_t>(next + slot_size[s]);
  }
  index.slot_start[1 << lookup_bits] = next;
  uint32_t gram[max_patterns * sample_step];
  uint8_t pattern[max_patterns * sample_step], offset[max_patterns * sample_step];
  memcpy(gram, index.candidate_gram, sizeof gram);
  memcpy(pattern, index.candidate_pattern, sizeof pattern);
  memcpy(offset, index.candidate_offset, sizeof offset);
  uint16_t filled[1 << lookup_bits] = {};
  for (size_t c = 0; c < candidates; ++c) {
    size_t s = hash_of[c] >> (filter_bits - lookup_bits);
    size_t at = index.slot_start[s] + filled[s]++;
    index.candidate_gram[at] = gram[c];
    index.candidate_pattern[at] = pattern[c];
    index.candidate_offset[at] = offset[c];
  }
  index.built = true;
}

bool is_found(const uint64_t found[2], size_t p) { return (found[p / 64] >> (p % 64) & 1) != 0; }

// Checks the patterns whose window holds `gram`, sampled at text[q].
void verify(const char* text, size_t length, size_t q, uint32_t gram, uint32_t hash,
            uint64_t found[2]) {
  size_t slot = hash >> (filter_bits - lookup_bits);
  for (size_t c = index.slot_start[slot]; c < index.slot_start[slot + 1]; ++c) {
    if (index.candidate_gram[c] != gram) continue;
    size_t p = index.candidate_pattern[c];
    size_t offset = index.candidate_offset[c];
    if (is_found(found, p) || offset > q || q - offset + index.length[p] > length) continue;
    const char* start = text + q - offset;
    if (load_gram(start + index.length[p] - gram_size) != index.last_gram[p]) continue;
    if (memcmp(start, index.text[p], index.length[p]) == 0)
      found[p / 64] |= uint64_t{1} << (p % 64);
  }
}

// Marks in `found` every pattern that occurs in text[0, length), each under the first
// pattern with its text.
void find_patterns(const char* text, size_t length, uint64_t found[2]) {
  size_t q = 0;
  // Four probes a step and one branch: nearly every step of ordinary text hits nothing.
  for (; q + 4 * sample_step <= length; q += 4 * sample_step) {
    uint32_t g0 = load_gram(text + q), g1 = load_gram(text + q + 4);
    uint32_t g2 = load_gram(text + q + 8), g3 = load_gram(text + q + 12);
    uint32_t h0 = gram_hash(g0), h1 = gram_hash(g1), h2 = gram_hash(g2), h3 = gram_hash(g3);
    if ((in_filter(h0) | in_filter(h1) | in_filter(h2) | in_filter(h3)) == 0) continue;
    if (in_filter(h0)) verify(text, length, q, g0, h0, found);
    if (in_filter(h1)) verify(text, length, q + 4, g1, h1, found);
    if (in_filter(h2)) verify(text, length, q + 8, g2, h2, found);
    if (in_filter(h3)) verify(text, length, q + 12, g3, h3, found);
  }
  for (; q + gram_size <= length; q += sample_step) {
    uint32_t gram = load_gram(text + q);
    uint32_t hash = gram_hash(gram);
    if (in_filter(hash)) verify(text, length, q, gram, hash, found);
  }
}

void write_line(const char* format, const char* text) {
  char line[line_buffer_size];
  size_t length = format_line(line, format, text);
  write_handle(saved_stdout, line, length);
}

void record(int status) {
  if (exit_status == status_no_sign) exit_status = status;
}

bool is_break(unsigned char c) { return c == '\n' || c == '\r'; }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// A reply line starts at `code`: a code from 400 to 999 and a space.
bool opens_reply(const char* code) {
  return code[0] >= '4' && code[0] <= '9' && is_digit(static_cast<unsigned char>(code[1])) &&
         is_digit(static_cast<unsigned char>(code[2])) && code[3] == ' ';
}

// Reports the reply line that starts at text[start]: its text runs to the first line
// feed, which must come before the piece's end and any zero byte.
void report_reply(const char* text, size_t length, size_t start) {
  write_line(report_banner, "");
  size_t end = start + 4;
  while (end < length && text[end] != '\n' && text[end] != '\0') ++end;
  if (end < length && text[end] == '\n') {
    char reply[line_buffer_size];
    size_t kept = end - start < sizeof reply - 1 ? end - start : sizeof reply - 1;
    memcpy(reply, text + start, kept);
    reply[kept] = '\0';
    write_line(report_text_format, reply);
  }
  record(status_error_reply);
}

void signature_pass(const char* text, size_t length) {
  if (!index.built) build_index();
  const void* zero = memchr(text, '\0', length);
  size_t searched = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : length;
  uint64_t found[2] = {0, 0};
  find_patterns(text, searched, found);
  if ((found[0] | found[1]) == 0) return;
  for (size_t p = 0; p < index.pattern_count; ++p) {
    if (!is_found(found, index.first_of_text[p])) continue;
    write_line(report_banner, "");
    write_line(report_text_format, index.text[p]);
    record(status_known_message);
  }
}

// Reports a reply line at text[i + 1] if text[i] is the line break before one.
void check_reply(const char* text, size_t length, size_t i) {
  if (is_break(static_cast<unsigned char>(text[i])) && opens_reply(text + i + 1))
    report_reply(text, length, i + 1);
}

#if defined(__SSE2__)
enum { block_size = 16 };

// Bit j set: text[j] is a line break, text[j + 1] a digit from 4 to 9 and text[j + 4] a
// space, for j from 0 to 15. Reads text[0, 20).
unsigned reply_marks(const char* text) {
  __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text));
  __m128i code = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 1));
  __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + 4));
  __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(at, _mm_set1_epi8('\n')),
                                _mm_cmpeq_epi8(at, _mm_set1_epi8('\r')));
  __m128i above_four = _mm_sub_epi8(code, _mm_set1_epi8('4'));
  __m128i error_digit = _mm_cmpeq_epi8(_mm_min_epu8(above_four, _mm_set1_epi8(5)), above_four);
  __m128i space = _mm_cmpeq_epi8(after, _mm_set1_epi8(' '));
  return static_cast<unsigned>(
      _mm_movemask_epi8(_mm_and_si128(_mm_and_si128(breaks, error_digit), space)));
}
#else
enum { block_size = 8 };

// Nonzero when text[j] may be a line break with a space at text[j + 4], for some j from
// 0 to 7. Reads text[0, 12). Portable: each byte of a word tested at once.
uint64_t zero_bytes(uint64_t x) {
  const uint64_t low7 = 0x7f7f7f7f7f7f7f7fu;
  return ~(((x & low7) + low7) | x | low7);
}
unsigned reply_marks(const char* text) {
  const uint64_t ones = 0x0101010101010101u;
  uint64_t at, after;
  memcpy(&at, text, sizeof at);
  memcpy(&after, text + 4, sizeof after);
  uint64_t breaks = zero_bytes(at ^ (ones * '\n')) | zero_bytes(at ^ (ones * '\r'));
  return (breaks & zero_bytes(after ^ (ones * ' '))) != 0 ? 0xffu : 0u;
}
#endif

void reply_pass(const char* text, size_t length, char before) {
  if (length >= 4 && is_break(static_cast<unsigned char>(before)) && opens_reply(text))
    report_reply(text, length, 0);
  if (length < 5) return;
  size_t i = 0;
  // Whole blocks while every byte a block reads lies inside the piece; a mark is only
  // a hint, confirmed by check_reply, so reports keep their order and their rule.
  for (; i + block_size + 4 <= length; i += block_size) {
    unsigned marks = reply_marks(text + i);
    for (size_t j = 0; marks != 0; ++j, marks >>= 1)
      if (marks & 1) check_reply(text, length, i + j);
  }
  for (; i + 5 <= length; ++i) check_reply(text, length, i);
}

void scan_held(line_cutter* cutter) {
  scan_piece(cutter->held, cutter->held_length, cutter->before);
  cutter->before = cutter->held[cutter->held_length - 1];
  cutter->held_length = 0;
}

}  // namespace

int scan_piece(const char* text, size_t length, char before) {
  signature_pass(text, length);
  reply_pass(text, length, before);
  return exit_status;
}

int scan_chunk(const char* text, size_t length) { return scan_piece(text, length, '\0'); }

void start_lines(line_cutter* cutter) {
  cutter->held_length = 0;
  cutter->before = '\n';  // the start of a stream counts as the end of a line
}

void scan_lines(line_cutter* cutter, const char* bytes, size_t length) {
  while (length > 0) {
    const char* feed = static_cast<const char*>(memchr(bytes, '\n', length));
    if (cutter->held_length == 0 && feed != nullptr) {
      // Whole lines straight from the read: every line up to its last line feed.
      const char* last = feed;
      for (const char* p = bytes + length - 1; p > feed; --p) {
        if (*p == '\n') {
          last = p;
          break;
        }
      }
      size_t whole = static_cast<size_t>(last - bytes) + 1;
      if (whole > piece_size) whole = piece_size;  // a read never exceeds a piece
      scan_piece(bytes, whole, cutter->before);
      cutter->before = bytes[whole - 1];
      bytes += whole;
      length -= whole;
      continue;
    }
    // Finish, or add to, the held line.
    size_t wanted = feed ? static_cast<size_t>(feed - bytes) + 1 : length;
    size_t room = piece_size - cutter->held_length;
    size_t taken = wanted < room ? wanted : room;
    memcpy(cutter->held + cutter->held_length, bytes, taken);
    cutter->held_length += taken;
    bytes += taken;
    length -= taken;
    bool line_done = feed != nullptr && taken == wanted;
    if (line_done || cutter->held_length == piece_size) scan_held(cutter);
  }
}

void finish_lines(line_cutter* cutter) {
  if (cutter->held_length > 0) scan_held(cutter);
}
