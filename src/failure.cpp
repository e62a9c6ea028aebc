#include "failure.h"

#include "handles.h"

namespace {

const os_char prefix[] = os_literal("veskar: ");
const size_t prefix_length = sizeof prefix / sizeof prefix[0] - 1;

// The detail line, its line feed left out until it is written.
os_char line[4096];
size_t line_length = 0;

}  // namespace

const os_char* take_failure(const os_char* what) {
  size_t room = sizeof line / sizeof line[0] - prefix_length - 1;  // and the line feed
  line_length = prefix_length + describe_failure(what, line + prefix_length, room);
  for (size_t c = 0; c < prefix_length; ++c) line[c] = prefix[c];
  return line + prefix_length;
}

void say_failure() {
  line[line_length] = '\n';
  write_os_text(saved_stderr, line, line_length + 1);
  line[line_length] = '\0';
}
