// The reply rule, the pass that finds reply lines, and the statistics lines.
#include "scan/replies.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

bool is_break(char c) { return c == '\n' || c == '\r'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

const char sent[] = " bytes sent in ";
const char* const phrases[] = {sent, " bytes received in "};

// The length of the statistics phrase at text[0, length), or 0 for none.
size_t statistics_phrase(const char* text, size_t length) {
  for (const char* phrase : phrases)
    if (length >= strlen(phrase) && memcmp(text, phrase, strlen(phrase)) == 0) return strlen(phrase);
  return 0;
}

bool after_prompt(const char* text, size_t at) { return at >= 5 && memcmp(text + at - 5, "ftp> ", 5) == 0; }

// Whether a reply line starts at text[start]: a code from 400 to 999 and a space, and
// no statistics, whose byte count can look like a code ("631 bytes sent in 00:00").
bool reply_at(const char* text, size_t length, size_t start) {
  if (length - start < 4) return false;
  const char* code = text + start;
  return code[0] >= '4' && code[0] <= '9' && is_digit(code[1]) && is_digit(code[2]) && code[3] == ' ' &&
         statistics_phrase(code + 3, length - start - 3) == 0;
}

// Where the reply line that a mark at text[i] (a line break, or the "> " of a prompt)
// opens starts, or 0 for none.
size_t reply_after(const char* text, size_t length, size_t i) {
  if (is_break(text[i])) return reply_at(text, length, i + 1) ? i + 1 : 0;
  if (text[i] == '>' && length - i >= 2 && text[i + 1] == ' ' && after_prompt(text, i + 2) &&
      reply_at(text, length, i + 2))
    return i + 2;
  return 0;
}

struct reply_list {
  size_t* start;
  size_t count;
  size_t capacity;
};

// Looks at text[i], the line break or prompt before a reply line, perhaps.
void check_mark(const char* text, size_t length, size_t i, reply_list* replies) {
  size_t start = reply_after(text, length, i);
  if (start != 0 && replies->count < replies->capacity) replies->start[replies->count++] = start;
}

// Hands check_mark every byte of text[0, length) that it has something to look at: a
// line break, then a digit from 4 to 9, then a space three bytes on; or the "> " of a
// prompt. Without SSE2 (the 32-bit Windows program), and at the end, byte by byte.
void block_pass(const char* text, size_t length, reply_list* replies) {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 + 4 <= length; i += 16) {
    __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
    __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 1));
    __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 4));
    __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(at, _mm_set1_epi8('\n')),
                                  _mm_cmpeq_epi8(at, _mm_set1_epi8('\r')));
    __m128i above_four = _mm_sub_epi8(next, _mm_set1_epi8('4'));
    __m128i error_digit = _mm_cmpeq_epi8(_mm_min_epu8(above_four, _mm_set1_epi8(5)), above_four);
    __m128i space = _mm_cmpeq_epi8(after, _mm_set1_epi8(' '));
    __m128i codes = _mm_and_si128(_mm_and_si128(breaks, error_digit), space);
    __m128i prompts = _mm_and_si128(_mm_cmpeq_epi8(at, _mm_set1_epi8('>')),
                                    _mm_cmpeq_epi8(next, _mm_set1_epi8(' ')));
    for (unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(codes, prompts))); bits != 0;
         bits &= bits - 1)
      check_mark(text, length, i + static_cast<size_t>(__builtin_ctz(bits)), replies);
  }
#endif
  for (; i < length; ++i)
    if (text[i] == '\n' || text[i] == '\r' || text[i] == '>') check_mark(text, length, i, replies);
}

}  // namespace

size_t find_replies(const char* text, size_t length, char before, size_t* starts, size_t capacity) {
  reply_list replies = {starts, 0, capacity};
  if (is_break(before) && reply_at(text, length, 0) && capacity > 0) starts[replies.count++] = 0;
  block_pass(text, length, &replies);
  return replies.count;
}

void find_statistics(const char* line, size_t length, transfer_sink sink) {
  size_t start = 0;
  while (length - start >= 5 && memcmp(line + start, "ftp> ", 5) == 0) start += 5;
  if (length - start >= 5 && memcmp(line + start, "ftp: ", 5) == 0) start += 5;
  size_t end = start;
  while (end < length && is_digit(line[end])) ++end;
  size_t phrase = statistics_phrase(line + end, length - end);
  if (end == start || phrase == 0) return;
  unsigned long long bytes = 0;
  for (; start < end; ++start) {
    unsigned digit = static_cast<unsigned>(line[start] - '0');
    bytes = bytes > (~0ull - digit) / 10 ? ~0ull : bytes * 10 + digit;  // saturated
  }
  sink(phrase == sizeof sent - 1, bytes);
}
