// The block pass and the search of a piece.
#include "scan/pass.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scan/replies.h"

namespace {

// Looks at text[i], which the block pass marked: the line break or prompt before a
// reply line, or an anchor's first byte.
void check_mark(const search_index* index, const char* text, size_t length, size_t i, piece_finds* finds) {
  if (i >= length) return;  // a block's padding past the piece
  size_t start = reply_after(text, length, i);
  if (start != 0 && finds->reply_count < max_replies) finds->reply[finds->reply_count++] = start;
  check_anchors(index, text, finds->searched, i, &finds->found);
}

#if defined(__SSE2__)
enum { block_reach = 4 };  // bytes a block's marks read past it

// Anchor slots a table does not use repeat the first, or hold zeros when there is no
// anchor: check_mark looks only at the slots in use, and only inside the piece.
__m128i anchor_byte(const search_index* index, size_t a, size_t b) {
  size_t slot = a < index->anchor_count ? a : 0;
  return _mm_set1_epi8(index->anchor_count > 0 ? index->anchor[slot][b] : '\0');
}

// Hands check_mark every byte of text[0, length) that it has something to look at: a
// line break, then a digit from 4 to 9, then a space three bytes on; the "> " of a
// prompt; or an anchor's two bytes.
void block_pass(const search_index* index, const char* text, size_t length, piece_finds* finds) {
  const __m128i first0 = anchor_byte(index, 0, 0), second0 = anchor_byte(index, 0, 1);
  const __m128i first1 = anchor_byte(index, 1, 0), second1 = anchor_byte(index, 1, 1);
  // The last blocks are read from a copy padded with zeros, which mark nothing.
  char padded[2 * 16 + block_reach] = {};
  size_t padded_from = length;  // where the copy starts, once made
  for (size_t i = 0; i < length; i += 16) {
    if (padded_from == length && i + 16 + block_reach > length) {
      memcpy(padded, text + i, length - i);
      padded_from = i;
    }
    const char* block = i < padded_from ? text + i : padded + (i - padded_from);
    __m128i at = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
    __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 1));
    __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 4));
    __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(at, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(at, _mm_set1_epi8('\r')));
    __m128i above_four = _mm_sub_epi8(next, _mm_set1_epi8('4'));
    __m128i error_digit = _mm_cmpeq_epi8(_mm_min_epu8(above_four, _mm_set1_epi8(5)), above_four);
    __m128i space = _mm_cmpeq_epi8(after, _mm_set1_epi8(' '));
    __m128i anchors = _mm_or_si128(_mm_and_si128(_mm_cmpeq_epi8(at, first0), _mm_cmpeq_epi8(next, second0)),
                                   _mm_and_si128(_mm_cmpeq_epi8(at, first1), _mm_cmpeq_epi8(next, second1)));
    __m128i replies = _mm_and_si128(_mm_and_si128(breaks, error_digit), space);
    __m128i prompts = _mm_and_si128(_mm_cmpeq_epi8(at, _mm_set1_epi8('>')), _mm_cmpeq_epi8(next, _mm_set1_epi8(' ')));
    __m128i marks = _mm_or_si128(_mm_or_si128(replies, anchors), prompts);
    for (unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(marks)); bits != 0; bits &= bits - 1)
      check_mark(index, text, length, i + static_cast<size_t>(__builtin_ctz(bits)), finds);
  }
}
#else
// Without SSE2 there are no anchors, and the block pass only skips, eight bytes a word,
// the stretches with no line break followed by a space four bytes on, and no "> ".
uint64_t zero_bytes(uint64_t x) {
  const uint64_t low7 = 0x7f7f7f7f7f7f7f7fu;
  return ~(((x & low7) + low7) | x | low7);
}

void block_pass(const search_index* index, const char* text, size_t length, piece_finds* finds) {
  const uint64_t ones = 0x0101010101010101u;
  size_t i = 0;
  for (; i + 8 + 4 <= length; i += 8) {
    uint64_t at, next, after;
    memcpy(&at, text + i, sizeof at);
    memcpy(&next, text + i + 1, sizeof next);
    memcpy(&after, text + i + 4, sizeof after);
    uint64_t breaks = zero_bytes(at ^ (ones * '\n')) | zero_bytes(at ^ (ones * '\r'));
    uint64_t prompts = zero_bytes(at ^ (ones * '>')) & zero_bytes(next ^ (ones * ' '));
    if (((breaks & zero_bytes(after ^ (ones * ' '))) | prompts) == 0) continue;
    for (size_t j = 0; j < 8; ++j) check_mark(index, text, length, i + j, finds);
  }
  for (; i < length; ++i) check_mark(index, text, length, i, finds);
}
#endif

}  // namespace

void search_piece(const search_index* index, const char* text, size_t length, char before,
                  piece_finds* finds) {
  memset(&finds->found, 0, sizeof finds->found);
  finds->reply_count = 0;
  if ((before == '\n' || before == '\r') && reply_at(text, length, 0)) finds->reply[finds->reply_count++] = 0;
  // Each entry is searched as a C string: a zero byte ends the text it can lie in.
  const void* zero = memchr(text, '\0', length);
  finds->searched = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : length;
  find_entries(index, text, finds->searched, &finds->found);
  block_pass(index, text, length, finds);
}
