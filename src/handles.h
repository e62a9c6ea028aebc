// The process-wide handles of a run.
#pragma once

#include "platform/platform.h"

// The wrapper's standard output and error as the process received them; no_handle
// when it had none. Everything the wrapper writes itself, but the banner, goes to
// saved_stdout.
extern os_handle saved_stdout;
extern os_handle saved_stderr;

// A pipe that carries one of the client's output streams.
struct pipe_ends {
  os_handle read_end;   // the wrapper's own, never inherited
  os_handle write_end;  // the client's standard output or error
};
extern pipe_ends output_pipe;
extern pipe_ends error_pipe;
