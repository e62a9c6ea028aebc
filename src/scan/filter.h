// The entries that stand in a text: the sampled filter, and the rare bytes of short ones.
#pragma once

#include <stddef.h>

#include "scan/index.h"

// Marks in `found` every entry that stands in text[0, length), which holds no zero byte.
void find_entries(const search_index* index, const char* text, size_t length, entry_set* found);

inline bool is_found(const entry_set* set, size_t e) { return (set->word[e / 64] >> (e % 64) & 1) != 0; }
static_assert(found_words == 4, "found_any reads four words");
inline bool found_any(const entry_set* s) { return (s->word[0] | s->word[1] | s->word[2] | s->word[3]) != 0; }
inline void mark_found(entry_set* set, size_t e) { set->word[e / 64] |= uint64_t{1} << (e % 64); }
