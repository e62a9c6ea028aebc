// Captures what the scanner and the relay write to saved_stdout, for the unit tests.
#pragma once

#include <stddef.h>

#include <string>

// Points saved_stdout at a fresh temporary file and sets exit_status to 0.
void begin_capture();

// Returns every byte written to saved_stdout since begin_capture.
std::string end_capture();

// The error report for a sign with text `text`, and the banner line alone.
std::string report(const std::string& text);
std::string banner_only();

// Searches one piece, whose stream byte before it was `before`, and reports its signs
// as the relay would (no line is flagged: that takes the line cutter). Returns the
// run's status.
int scan_piece(const char* text, size_t length, char before);
