// One search of a piece of client output: the entries it holds and where its reply
// lines start.
#pragma once

#include <stddef.h>

#include "scan/filter.h"

enum {
  piece_size = 4096,
  // Reply lines a piece can hold: each takes a break, a code and a space.
  max_replies = piece_size / 5 + 2,
};

struct piece_finds {
  entry_set found;
  size_t searched;  // where the text entries may lie in ends: its first zero byte, or its end
  size_t reply_count;
  size_t reply[max_replies];  // where each reply line starts, in order
};

// Searches text[0, length), at most piece_size bytes, whose stream byte before it was
// `before` (a piece after a line break may open with a reply line).
void search_piece(const search_index* index, const char* text, size_t length, char before,
                  piece_finds* finds);
