#include "handles.h"

#include "exit_status.h"
#include "run_record.h"

os_handle saved_stdout = no_handle;
os_handle saved_stderr = no_handle;
pipe_ends output_pipe = {no_handle, no_handle};
pipe_ends error_pipe = {no_handle, no_handle};

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
