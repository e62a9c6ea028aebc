#include "relay.h"

#include "handles.h"
#include "platform/platform.h"
#include "report.h"
#include "scan/lines.h"
#include "settings.h"
#include "watchdog.h"

namespace {

struct stream_state {
  bool echo_open;
  os_handle* echo_to;  // saved_stdout or saved_stderr
  line_cutter lines;
  // The lines of the current read not shown yet: shown before the first report.
  const char* unshown;
  size_t unshown_length;
};
// Zeroed, not initialised, so the held lines take no room in the program file;
// reset_relay opens the echoes.
stream_state streams[2];

// Shows bytes of a stream, until an echo fails.
void echo(stream_state* s, const char* bytes, size_t length) {
  if (s->echo_open && length > 0) s->echo_open = write_handle(*s->echo_to, bytes, length);
}

// A sign_sink for the lines of one read: shows them before the first report about them.
void report_after_lines(const found_sign* sign, void* stream) {
  stream_state* s = static_cast<stream_state*>(stream);
  echo(s, s->unshown, s->unshown_length);
  s->unshown_length = 0;
  report_found(sign, nullptr);
}

// Set once the client has been stopped for inactivity: its end is then the wrapper's
// doing, and the stall its report.
bool stopped = false;

// The client showed no activity for idle_timeout_seconds.
void stop_stalled_client() {
  stop_client();
  stopped = true;
  // What it printed before it went quiet counts first: an unfinished prompt, say.
  for (stream_state& s : streams) finish_lines(&s.lines, report_found, nullptr);
  report_stall(idle_timeout_seconds);
}

}  // namespace

void reset_relay() {
  for (stream_state& s : streams) {
    s.echo_open = true;
    s.echo_to = &s == &streams[output_stream] ? &saved_stdout : &saved_stderr;
    s.unshown_length = 0;
    start_lines(&s.lines);
  }
}

void relay_chunk(int stream, const char* bytes, size_t length) {
  stream_state& s = streams[stream];
  if (length == 0) {
    finish_lines(&s.lines, report_found, nullptr);
    return;
  }
  // A report follows the lines it is about and comes before the rest of the read,
  // such as the client's next prompt, which would otherwise sit above it. A read with
  // no sign is shown in one write. After a failed echo the stream is still read to its
  // end and scanned, so the client never stalls on a full pipe and no failure sign
  // goes uncounted.
  size_t lines = through_last_feed(bytes, length);
  s.unshown = bytes;
  s.unshown_length = lines;
  if (lines > 0) scan_lines(&s.lines, bytes, lines, report_after_lines, &s);
  bool shown = lines > 0 && s.unshown_length == 0;
  s.unshown_length = 0;
  echo(&s, shown ? bytes + lines : bytes, shown ? length - lines : length);
  // An unfinished line only waits in the cutter, unless it fills a whole piece: its
  // report then comes after it.
  scan_lines(&s.lines, bytes + lines, length - lines, report_found, nullptr);
}

void relay_streams() {
  if (!close_handle(output_pipe.write_end)) report_fatal("Closing handle failed");
  if (!close_handle(error_pipe.write_end)) report_fatal("Closing error handle failed");
  reset_relay();
  start_pump(output_pipe.read_end, error_pipe.read_end, relay_chunk);
  watch_relay(&system_watch_calls, idle_timeout_seconds, stop_stalled_client);
  end_pump();
  // How the client ended is its last word, after everything it printed.
  if (!stopped) report_client_end(client_ending());
}
