#include "handles.h"

os_handle saved_stdout = no_handle;
os_handle saved_stderr = no_handle;
pipe_ends output_pipe = {no_handle, no_handle};
pipe_ends error_pipe = {no_handle, no_handle};
