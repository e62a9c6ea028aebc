// The end of a run that cannot be set up.
#pragma once

#include "platform/platform.h"

// Writes "ERROR: <message>\n" to saved_stdout (or "Error: <message>\n" to the
// runtime's stdout when there is none), appends the run's record if one is kept, and
// ends the process with status 1.
[[noreturn]] void report_fatal(const char* message);

// report_fatal for an operation of the system's that failed: the ERROR line is followed
// by its detail on saved_stderr, "veskar: <what>: <reason>", which the record keeps too.
[[noreturn]] void report_failure(const char* message, const os_char* what);
