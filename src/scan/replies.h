// The reply rule: where an FTP error reply line starts, and the client's transfer
// statistics lines, whose byte count can look like a reply's code.
#pragma once

#include <stddef.h>

enum {
  // What decides a reply after its code's first digit: the code, a space and the
  // longest text of the statistics that are no reply, "bytes received in ".
  reply_lookahead = 4 + 18,
};

// Writes into starts[0, capacity) where each reply line of text[0, length) starts, in
// order, and returns how many there are; `before` is the stream byte before the text
// (a text after a line break may open with a reply line). A reply line is a code from
// 400 to 999 and a space, and no statistics line, after a line break or right after
// the client's prompt "ftp> " (a client that reads its commands from a file echoes
// none, so the reply shares the prompt's line).
size_t find_replies(const char* text, size_t length, char before, size_t* starts, size_t capacity);

// Receives a transfer statistics line's direction and byte count (saturated).
typedef void (*transfer_sink)(bool sent, unsigned long long bytes);

// Hands `sink` the statistics line that line[0, length), a line's start, opens, if it
// does: after any number of prompts "ftp> " or the Windows client's "ftp: ", a run of
// digits, then " bytes sent in " or " bytes received in ", all within `length`.
void find_statistics(const char* line, size_t length, transfer_sink sink);
