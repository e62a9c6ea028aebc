#include "relay.h"

#include "handles.h"
#include "platform/platform.h"
#include "report.h"
#include "scan/lines.h"
#include "settings.h"

namespace {

struct stream_state {
  bool echo_open;
  line_cutter lines;
};
// Zeroed, not initialised, so the held lines take no room in the program file;
// reset_relay opens the echoes.
stream_state streams[2];

// The client showed no activity for idle_timeout_seconds.
void stop_stalled_client() {
  stop_client();
  // What it printed before it went quiet counts first: an unfinished prompt, say.
  for (stream_state& s : streams) finish_lines(&s.lines, report_found, nullptr);
  report_stall(idle_timeout_seconds);
}

}  // namespace

void reset_relay() {
  for (stream_state& s : streams) {
    s.echo_open = true;
    start_lines(&s.lines);
  }
}

void relay_chunk(int stream, const char* bytes, size_t length) {
  stream_state& s = streams[stream];
  if (length == 0) {
    finish_lines(&s.lines, report_found, nullptr);
    return;
  }
  // Every read is shown as it came, before anything about it is reported. After a
  // failed echo the stream is still read to its end and scanned, so the client never
  // stalls on a full pipe and no failure sign goes uncounted.
  if (s.echo_open)
    s.echo_open = write_handle(stream == output_stream ? saved_stdout : saved_stderr, bytes, length);
  scan_lines(&s.lines, bytes, length, report_found, nullptr);
}

void relay_streams() {
  if (!close_handle(output_pipe.write_end)) report_fatal("Closing handle failed");
  if (!close_handle(error_pipe.write_end)) report_fatal("Closing error handle failed");
  reset_relay();
  pump_pipes(output_pipe.read_end, error_pipe.read_end, relay_chunk, idle_timeout_seconds,
             stop_stalled_client);
}
