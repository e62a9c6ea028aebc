// The end of a run that cannot be set up.
#pragma once

// Writes "ERROR: <message>\n" to saved_stdout (or "Error: <message>\n" to the
// runtime's stdout when there is none), appends the run's record if one is kept, and
// ends the process with status 1.
[[noreturn]] void report_fatal(const char* message);
