// The client's command line, built from the wrapper's own arguments.
#pragma once

#include <stddef.h>

enum { command_line_size = 2048 };

// The client's program name when none is set: "ftp", or "ftp.exe" on Windows, found
// through the system's program search.
extern const char default_client[];

// Writes into `line` (command_line_size bytes) the client's program name `client`
// (in double quotes when it holds a blank; it must hold no double quote itself) and a
// space, followed by each of arguments[1] to arguments[count - 1], each followed by
// one space, unchanged and unquoted. Returns false, with `line` still terminated, when
// that would take more than command_line_size - 1 characters.
bool build_command_line(char* line, const char* client, int count, const char* const* arguments);
