// The search of a piece: its entries, and its reply lines by a pass over its blocks.
#include "scan/pass.h"

#include <string.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scan/replies.h"

namespace {

// Looks at text[i], which the block pass marked: the line break or prompt before a
// reply line, perhaps.
void check_mark(const char* text, size_t length, size_t i, piece_finds* finds) {
  if (i >= length) return;  // a block's padding past the piece
  size_t start = reply_after(text, length, i);
  if (start != 0 && finds->reply_count < max_replies) finds->reply[finds->reply_count++] = start;
}

#if defined(__SSE2__)
enum { block_reach = 4 };  // bytes a block's marks read past it

// Hands check_mark every byte of text[0, length) that it has something to look at: a
// line break, then a digit from 4 to 9, then a space three bytes on; or the "> " of a
// prompt.
void block_pass(const char* text, size_t length, piece_finds* finds) {
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
    __m128i replies = _mm_and_si128(_mm_and_si128(breaks, error_digit), space);
    __m128i prompts = _mm_and_si128(_mm_cmpeq_epi8(at, _mm_set1_epi8('>')), _mm_cmpeq_epi8(next, _mm_set1_epi8(' ')));
    for (unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(replies, prompts))); bits != 0;
         bits &= bits - 1)
      check_mark(text, length, i + static_cast<size_t>(__builtin_ctz(bits)), finds);
  }
}
#else
// Without SSE2 (the 32-bit Windows program), byte by byte.
void block_pass(const char* text, size_t length, piece_finds* finds) {
  for (size_t i = 0; i < length; ++i)
    if (text[i] == '\n' || text[i] == '\r' || text[i] == '>') check_mark(text, length, i, finds);
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
  block_pass(text, length, finds);
}
