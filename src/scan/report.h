// The reports: turns failure signs into error reports on the wrapper's standard output
// and keeps the run's status, which the first sign decides.
#pragma once

#include <stddef.h>
#include <stdint.h>

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

// How long a line on stdout may pause, between bytes, and still hold back a report
// about the other stream: a report never cuts a line that is still arriving.
enum { held_report_ms = 100 };

// Whether reports wait for the line on stdout to end. The relay releases them right
// after that line's line feed, when the line has paused held_report_ms (then they
// start on a line of their own), and at the client's end.
bool reports_held();

// When held reports are due, on clock_ms: held_report_ms after the line's last bytes;
// 0 when none is held.
int64_t held_reports_due();

// Writes the held reports, after a line feed when stdout is inside a line.
void release_held_reports();

// The clock that tells how long ago stdout's line last moved: clock_ms, or a test's own.
void set_report_clock(int64_t (*clock)());


// Reports a client stopped after `seconds` without activity: status_stalled.
void report_stall(unsigned seconds);

// Reports that the wrapper was asked to stop, by `cause` ("signal 15"), and stopped the
// client. No status: the wrapper ends as the request would have ended it.
void report_stop(const char* cause);

// Reports a client that ended with a nonzero exit status or by a signal, with
// status_client_failed; nothing for a client that ended well or as nobody knows.
void report_client_end(client_end end);
