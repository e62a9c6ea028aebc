// The plain model of the failure signs: what the scanner must report, written for
// clarity and not for speed. Every entry is searched by itself, line by line, with
// std::string::find.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

#include "scan/index.h"

// Every built-in entry in search order: error_signatures, then client_signatures.
std::vector<std::string> all_patterns();

// Entries a run may add, for the tests: a site's texts (counting anywhere) and a
// locale's words (counting before a reply), given again, the same as a table entry,
// inside one or holding one, inside each other, of four bytes, and not ASCII.
std::vector<search_entry> overlapping_entries();

// Gives the model the entries beyond the tables, as build_search_index takes them: the
// client's locale's words (counts_in_reply false) and the site's texts. Until then it
// knows the tables alone.
void model_entries(const std::vector<search_entry>& extra);

// The reports a scan of `piece` must write when the stream byte before it was `before`.
// Moves *status as the run's status moves (the first sign decides it). Each line of the
// piece stands by itself: the entries in it, each once and in entry order, then its
// reply lines. A reply line starts after a line break or right after the prompt
// "ftp> ", and is no transfer statistics line ("631 bytes sent in ..."). An entry that
// does not count in a reply line (client_signatures', the locale's) counts only before
// the line's first reply. An entry whose text stands inside the text of another that
// counts in the line is no sign of its own.
std::string model_scan(const std::string& piece, char before, int* status);

// The reports of a whole stream that opens a run: each line judged whole, however
// long, and the last one, if it has no line feed, as it stands.
std::string model_stream(const std::string& stream, int* status);

// The transfer statistics lines of a whole stream, one "sent N" or "received N" each:
// at a line's start, after any number of prompts "ftp> " and then perhaps "ftp: ", a
// run of digits, then " bytes sent in " or " bytes received in ", ending within the
// line's first 4096 bytes; N saturates at the largest count.
std::vector<std::string> model_transfers(const std::string& stream);
