// The client's commands under VESKAR_ON_FAILURE=stop: read from their source, handed to
// the client a line at a time, each only when the client waits for it and everything it
// printed before has been scanned, and none after the first sign that counts. Without
// the setting none of it runs, and the client reads the wrapper's standard input itself.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

// Before the client starts: sets up the commands' route (the platform's) when the
// setting asks for it. Commands typed at a terminal are left to the client: said once on
// saved_stderr. Returns nullptr, or the problem for report_fatal.
const char* prepare_script(int count, const os_char* const* arguments);

// Once the client has started: nullptr, or the problem for report_fatal when the client
// cannot be watched after all (it has been stopped then, and got no line).
const char* start_script();

// Whether the commands are handed over a line at a time in this run.
bool script_running();

// Takes a read of the client's output that the relay has echoed and scanned (length 0:
// the end of that stream).
void script_saw_output(int stream, const char* bytes, size_t length);

// The wrapper was asked to stop: the client gets no line after the one on its way, and
// then the end of its input.
void halt_script();

// When the script's next step is due, on clock_ms (0: not at all), and the step: it hands
// the client its next line, or ends its input, once the client waits for it.
int64_t script_due();
void script_step();

// Once the client has ended: ends its input, counts the lines it did not get, notes the
// account in the run's record, and, when the stop held lines back, says so in one line on
// saved_stderr.
void end_script();
