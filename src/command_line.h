// The client's command line, built from the wrapper's own arguments.
#pragma once

#include <stddef.h>

enum { command_line_size = 2048 };

// The client's program name and a space: the line every command line starts with.
extern const char client_prefix[];

// Writes into `line` (command_line_size bytes) the client prefix followed by each of
// arguments[1] to arguments[count - 1], each followed by one space, unchanged and
// unquoted. Returns false, with `line` still terminated, when that would take more
// than command_line_size - 1 characters.
bool build_command_line(char* line, int count, const char* const* arguments);
