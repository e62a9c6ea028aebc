// The plain model of the failure signs: what the scanner must report, written for
// clarity and not for speed. Every table entry is searched by itself and every position
// tried, line by line.
#pragma once

#include <string>
#include <vector>

// Every known failure message in search order: error_signatures, then client_signatures.
std::vector<std::string> all_patterns();

// The reports a scan of `piece` must write when the stream byte before it was `before`.
// Moves *status as the run's status moves (the first sign decides it). Each line of the
// piece stands by itself: the table entries in it, each once and in table order, then
// its reply lines. A reply line starts after a line break or right after the prompt
// "ftp> ", and is no transfer statistics line ("631 bytes sent in ..."). A
// client_signatures entry does not count inside a reply line.
std::string model_scan(const std::string& piece, char before, int* status);

// The reports of a whole stream that opens a run: each line judged whole, however
// long, and the last one, if it has no line feed, as it stands.
std::string model_stream(const std::string& stream, int* status);
