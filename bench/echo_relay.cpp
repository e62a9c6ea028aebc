// The wrapper's own read loop (pump_pipes) with a sink that only echoes: the relay as
// the wrapper does it, without the line cutting and the scan. It copies stdin to
// stdout; its second stream is a pipe that ends at once.
#include <unistd.h>

#include "platform/platform.h"

namespace {

void echo_only(int stream, const char* bytes, size_t length) {
  if (stream == output_stream && length > 0) write_handle(1, bytes, length);
}

}  // namespace

int main() {
  int quiet[2];
  if (pipe(quiet) != 0) return 1;
  close(quiet[1]);
  pump_pipes(0, quiet[0], echo_only, 0, nullptr);
  return 0;
}
