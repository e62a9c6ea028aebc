#include "handles.h"

#include <stdio.h>

#include "scan/scan.h"

os_handle saved_stdout = no_handle;
os_handle saved_stderr = no_handle;
pipe_ends output_pipe = {no_handle, no_handle};
pipe_ends error_pipe = {no_handle, no_handle};

void report_fatal(const char* message) {
  if (saved_stdout != no_handle) {
    char line[line_buffer_size];
    size_t length = format_line(line, "ERROR: %s\n", message);
    write_handle(saved_stdout, line, length);
  } else {
    printf("Error: %s\n", message);
    fflush(stdout);  // exit_process does not flush the runtime's streams
  }
  exit_process(status_setup_failed);
}
