#include "command_line.h"

#include <string.h>

namespace {

// Appends `length` bytes of `text` at line[*used] if they and the terminator fit.
bool append(char* line, size_t* used, const char* text, size_t length) {
  if (length + 1 > command_line_size - *used) return false;
  memcpy(line + *used, text, length);
  *used += length;
  line[*used] = '\0';
  return true;
}

}  // namespace

bool build_command_line(char* line, const char* client, int count, const char* const* arguments) {
  size_t used = 0;
  line[0] = '\0';
  // Quoted, a program path with blanks stays one word for the system's own split.
  bool quoted = strpbrk(client, " \t") != nullptr;
  if ((quoted && !append(line, &used, "\"", 1)) || !append(line, &used, client, strlen(client)) ||
      (quoted && !append(line, &used, "\"", 1)) || !append(line, &used, " ", 1))
    return false;
  for (int a = 1; a < count; ++a) {
    size_t length = strlen(arguments[a]);
    // The argument, its space and the terminator must all fit.
    if (length + 2 > command_line_size - used) return false;
    memcpy(line + used, arguments[a], length);
    line[used + length] = ' ';
    line[used + length + 1] = '\0';
    used += length + 1;
  }
  return true;
}
