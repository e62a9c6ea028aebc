#include "run/relay.h"

#include "fatal.h"
#include "handles.h"
#include "platform/platform.h"
#include "scan/report.h"
#include "record/record.h"
#include "scan/lines.h"
#include "settings/settings.h"
#include "run/watchdog.h"

namespace {

struct stream_state {
  int number;  // output_stream or error_stream
  bool echo_open;
  os_handle* echo_to;  // saved_stdout or saved_stderr
  line_cutter lines;
  // The read being cut, and how much of it is shown.
  const char* read;
  size_t shown;
};
// Zeroed, not initialised, so the held lines take no room in the program file;
// reset_relay opens the echoes.
stream_state streams[2];

// Shows bytes of a stream, until an echo fails.
void echo(stream_state* s, const char* bytes, size_t length) {
  if (length == 0) return;
  if (s->echo_open) s->echo_open = write_handle(*s->echo_to, bytes, length);
  if (s->echo_to == &saved_stdout) note_stdout(bytes, length);
}

// A sign_sink for a read's lines: shows the read through the sign's line, then reports.
void report_after_line(const found_sign* sign, void* stream) {
  stream_state* s = static_cast<stream_state*>(stream);
  if (sign->read_end > s->shown) {
    echo(s, s->read + s->shown, sign->read_end - s->shown);
    s->shown = sign->read_end;
  }
  report_found(sign, &s->number);
}

// Set once the client has been stopped for inactivity: its end is then the wrapper's
// doing, and the stall its report.
bool stopped = false;

// The client showed no activity for idle_timeout_seconds.
void stop_stalled_client() {
  stop_client();
  stopped = true;
  // What it printed before it went quiet counts first: an unfinished prompt, say.
  for (stream_state& s : streams) finish_lines(&s.lines, report_found, &s.number);
  report_stall(idle_timeout_seconds);
}

}  // namespace

void reset_relay() {
  for (stream_state& s : streams) {
    s.echo_open = true;
    s.number = &s == &streams[output_stream] ? output_stream : error_stream;
    s.echo_to = s.number == output_stream ? &saved_stdout : &saved_stderr;
    start_lines(&s.lines);
    if (keeping_record()) count_lines(&s.lines, nullptr);
    if (size_t reach = longest_ignored_text()) test_lines(&s.lines, sign_ignored, reach);
  }
  note_stdout("\n", 1);
}

void relay_chunk(int stream, const char* bytes, size_t length) {
  stream_state& s = streams[stream];
  if (length == 0) {
    finish_lines(&s.lines, report_found, &s.number);
    return;
  }
  record_output(stream, bytes, length);
  // A report follows the line it is about and comes before the rest of the read, such
  // as the client's next prompt, which would otherwise sit above it. A read with no
  // sign is shown in one write. After a failed echo the stream is still read to its
  // end and scanned, so the client never stalls on a full pipe and no failure sign
  // goes uncounted.
  s.read = bytes;
  s.shown = 0;
  scan_lines(&s.lines, bytes, length, report_after_line, &s);
  echo(&s, bytes + s.shown, length - s.shown);
}

void relay_streams() {
  if (!close_handle(output_pipe.write_end)) report_fatal("Closing handle failed");
  if (!close_handle(error_pipe.write_end)) report_fatal("Closing error handle failed");
  reset_relay();
  start_pump(output_pipe.read_end, error_pipe.read_end, relay_chunk);
  int stop = watch_relay(&system_watch_calls, idle_timeout_seconds, stop_stalled_client);
  end_pump();
  // Asked to stop: reported after all the client printed, its last unfinished lines
  // scanned; the client's end is the stop's doing.
  if (stop != 0) {
    report_stop(stop_name(stop));
    finish_record(record_stopped, nullptr);
    end_by_stop(stop);
  }
  // How the client ended is its last word, after everything it printed.
  if (!stopped) report_client_end(client_ending());
}
