// The reports: turns failure signs into error reports on the wrapper's standard output
// and keeps the run's status, which the first sign decides.
#pragma once

#include <stddef.h>

#include "exit_status.h"
#include "platform/platform.h"
#include "scan/scan.h"
#include "scan/search.h"

// The most of a reply's text a report shows: its "Error text: " line, line feed and
// all, fits the line buffer.
enum { report_text_size = line_buffer_size - sizeof "Error text: \n" };

// A sign_sink: reports a sign the search found, unless the line cutter flagged its
// line (the user's ignore list), and records its kind; the run's record notes it
// either way. `context`: the stream it came from, an int (output_stream or
// error_stream), or nullptr.
void report_found(const found_sign* sign, void* context);

// Tells the reports about bytes the relay showed on saved_stdout, so that a report
// starts on a line of its own: after bytes that end inside a line, with a line feed.
void note_stdout(const char* bytes, size_t length);


// Reports a client stopped after `seconds` without activity: status_stalled.
void report_stall(unsigned seconds);

// Reports that the wrapper was asked to stop, by `cause` ("signal 15"), and stopped the
// client. No status: the wrapper ends as the request would have ended it.
void report_stop(const char* cause);

// Reports a client that ended with a nonzero exit status or by a signal, with
// status_client_failed; nothing for a client that ended well or as nobody knows.
void report_client_end(client_end end);
