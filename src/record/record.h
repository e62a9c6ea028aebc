// The run's record (VESKAR_LOG): one JSON object on one line, appended to a file at the
// end of every run once the file has been found to open. Without the setting none of
// it runs.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

enum record_kind { recorded_message, recorded_reply, recorded_stall, recorded_client_end, recorded_stop };

enum {
  max_record_signs = 64,
  max_record_transfers = 64,
  max_record_size = 65536,  // a whole record, line feed and all
  max_record_text = 512,    // of a sign's text, as JSON
  max_record_arguments = 8192,  // of all arguments together, as JSON
};

// Whether a record is kept for this run.
bool keeping_record();

// Checks that `path` (nullptr or empty: no record) opens for appending, and closes it
// again, and notes the run's start: the time, the client and its arguments[1, count).
// Returns nullptr, or the message for report_failure about `path`.
const char* start_record(const os_char* path, const os_char* client, int count,
                         const os_char* const* arguments);

// Notes a sign in the order it counted: its kind and text, with the client encoding the
// text is in (unknown_encoding where that is not known), and for client output its
// stream (output_stream or error_stream; -1 for none) and line there (1-based; 0 for
// none), and whether the user's ignore list silenced it.
void record_sign(record_kind kind, const char* text, size_t length, size_t encoding, int stream,
                 size_t line, bool ignored);

// Notes that the client writes both its streams into one pipe, which its signs' stream
// then names: "both".
void record_streams_joined();

// Notes how the client ended.
void record_client_end(client_end end);

// Notes a transfer statistics line ("631 bytes sent in ..."): its direction and byte count.
void record_transfer(bool sent, unsigned long long bytes);

// Notes a read of `length` bytes of a stream.
void record_output(int stream, size_t length);

// Makes the record of the run as if stopped now, for the backstop to append should the
// wrapper be held from now on: at the start, and once a stop is reported. Without a
// record kept, nothing.
void prepare_stop_record();

// VESKAR_ON_FAILURE=stop: notes the line of the commands the client carries out from now
// on, the last one handed over (0 before the first), which every sign noted from now on
// names. Without a call, the signs name none.
void record_script_line(size_t line);

// Notes the commands' account at the run's end: the lines handed over, those read or
// left in the source and not handed over, and whether the stop came, at which line.
void record_script(size_t sent, size_t not_sent, bool stopped, size_t stopped_at);

// The status of a run that ends by the stop veskar was asked for: it has none.
enum { record_stopped = -1 };

// Notes the detail of the failure that ends a run that could not be set up, "<what>:
// <reason>" (take_failure's); nullptr for none.
void record_error_detail(const os_char* detail);

// Appends the record, with the run's status (record_stopped for a stopped run) and, for
// a run that could not be set up, the reason, to the file opened again by its path, in
// one write; for a pipe or FIFO in at most pipe_write_size bytes. A file that cannot be
// opened again is said on saved_stderr with its detail line; a write that fails or
// falls short in one line.
void finish_record(int status, const char* error);
