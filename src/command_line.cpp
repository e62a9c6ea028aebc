#include "command_line.h"

#include <string.h>

bool build_command_line(char* line, int count, const char* const* arguments) {
  size_t used = strlen(client_prefix);
  memcpy(line, client_prefix, used + 1);
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
