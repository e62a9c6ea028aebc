#include "fatal.h"

#include "exit_status.h"
#include "handles.h"
#include "record/record.h"

void report_fatal(const char* message) {
  char line[line_buffer_size];
  if (saved_stdout != no_handle) {
    size_t length = format_line(line, "ERROR: %s\n", message);
    write_handle(saved_stdout, line, length);
  } else {
    format_line(line, "Error: %s\n", message);
    print_text(line);
  }
  finish_record(status_setup_failed, message);
  exit_process(status_setup_failed);
}
