#include "relay.h"

#include "handles.h"
#include "platform/platform.h"
#include "scan/scan.h"

namespace {

struct stream_state {
  bool echo_open;
  line_cutter lines;
};
// Zeroed, not initialised, so the held lines take no room in the program file;
// reset_relay opens the echoes.
stream_state streams[2];

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
    finish_lines(&s.lines);
    return;
  }
  // Every read is shown as it came, before anything about it is reported. After a
  // failed echo the stream is still read to its end and scanned, so the client never
  // stalls on a full pipe and no failure sign goes uncounted.
  if (s.echo_open)
    s.echo_open = write_handle(stream == output_stream ? saved_stdout : saved_stderr, bytes, length);
  scan_lines(&s.lines, bytes, length);
}

void relay_streams() {
  if (!close_handle(output_pipe.write_end)) report_fatal("Closing handle failed");
  if (!close_handle(error_pipe.write_end)) report_fatal("Closing error handle failed");
  reset_relay();
  pump_pipes(output_pipe.read_end, error_pipe.read_end, relay_chunk);
}
