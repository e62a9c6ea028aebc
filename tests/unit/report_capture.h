// Captures what the scanner and the relay write to saved_stdout, for the unit tests.
#pragma once

#include <string>

// Points saved_stdout at a fresh temporary file and sets exit_status to 0.
void begin_capture();

// Returns every byte written to saved_stdout since begin_capture.
std::string end_capture();

// The error report for a sign with text `text`, and the banner line alone.
std::string report(const std::string& text);
std::string banner_only();
