// The wrapper's own read loop (the pump, without the watchdog) with a sink that only echoes: the relay as
// the wrapper does it, without the line cutting and the scan. It copies stdin to
// stdout; its second stream is a pipe that ends at once.
#include <unistd.h>

#include "platform/platform.h"
#include "run/watchdog.h"

namespace {

void echo_only(int stream, const char* bytes, size_t length) {
  if (stream == output_stream && length > 0) write_handle(1, bytes, length);
}

}  // namespace

int main() {
  int quiet[2];
  if (pipe(quiet) != 0) return 1;
  close(quiet[1]);
  start_pump(0, quiet[0], echo_only);
  watch_relay(&system_watch_calls, 0, nullptr, nullptr, 0);
  end_pump();
  return 0;
}
