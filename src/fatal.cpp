#include "fatal.h"

#include "exit_status.h"
#include "failure.h"
#include "handles.h"
#include "record/record.h"

namespace {

// `detail`: the failure taken down for the message, or nullptr.
[[noreturn]] void end_setup(const char* message, const os_char* detail) {
  char line[line_buffer_size];
  if (saved_stdout != no_handle) {
    size_t length = format_line(line, "ERROR: %s\n", message);
    write_handle(saved_stdout, line, length);
  } else {
    format_line(line, "Error: %s\n", message);
    print_text(line);
  }
  if (detail != nullptr) say_failure();
  record_error_detail(detail);
  finish_record(status_setup_failed, message);
  exit_process(status_setup_failed);
}

}  // namespace

void report_fatal(const char* message) { end_setup(message, nullptr); }

void report_failure(const char* message, const os_char* what) {
  // First: the ERROR line's write, should it fail, would change the reason.
  end_setup(message, take_failure(what));
}
