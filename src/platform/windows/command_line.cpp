// The quoting of the client's command line, as the C runtime's split reads it back.
#include "command_line.h"

#include <string.h>

namespace {

// Appends `length` characters of `text` at line[*used] if they and the terminator fit.
bool append(os_char* line, size_t* used, const os_char* text, size_t length) {
  if (length + 1 > command_line_size - *used) return false;
  memcpy(line + *used, text, length * sizeof *text);
  *used += length;
  line[*used] = '\0';
  return true;
}

// Appends `count` times `c` if they and the terminator fit.
bool append_repeated(os_char* line, size_t* used, os_char c, size_t count) {
  if (count + 1 > command_line_size - *used) return false;
  for (size_t i = 0; i < count; ++i) line[(*used)++] = c;
  line[*used] = '\0';
  return true;
}

// Appends `argument` in double quotes and its space. Backslashes count only before a
// double quote, the closing one included: there they are doubled, and one more makes
// a quote of the argument's own literal.
bool append_quoted(os_char* line, size_t* used, const os_char* argument) {
  if (!append_repeated(line, used, '"', 1)) return false;
  size_t backslashes = 0;
  for (const os_char* p = argument;; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    if (*p == '\0')
      return append_repeated(line, used, '\\', 2 * backslashes) &&
             append_repeated(line, used, '"', 1) && append_repeated(line, used, ' ', 1);
    size_t run = *p == '"' ? 2 * backslashes + 1 : backslashes;
    if (!append_repeated(line, used, '\\', run) || !append(line, used, p, 1)) return false;
    backslashes = 0;
  }
}

// text_length's twin: the platform sits below text.h.
size_t length_of(const os_char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

bool is_blank(os_char c) { return c == ' ' || c == '\t'; }

// Whether `text` holds a blank or a tab, or a double quote when `quote` counts too.
bool holds_separator(const os_char* text, bool quote) {
  for (; *text != '\0'; ++text)
    if (is_blank(*text) || (quote && *text == '"')) return true;
  return false;
}

}  // namespace

bool build_command_line(os_char* line, const os_char* client, int count,
                        const os_char* const* arguments) {
  size_t used = 0;
  line[0] = '\0';
  // Quoted, a program path with blanks stays one word for the system's own split.
  bool quoted = holds_separator(client, false);
  if (!append_repeated(line, &used, '"', quoted ? 1 : 0) ||
      !append(line, &used, client, length_of(client)) ||
      !append_repeated(line, &used, '"', quoted ? 1 : 0) || !append_repeated(line, &used, ' ', 1))
    return false;
  for (int a = 1; a < count; ++a) {
    const os_char* argument = arguments[a];
    // As it is, so that every line that needs no quotes stays as it always was.
    bool plain = argument[0] != '\0' && !holds_separator(argument, true);
    if (plain ? !append(line, &used, argument, length_of(argument)) ||
                    !append_repeated(line, &used, ' ', 1)
              : !append_quoted(line, &used, argument))
      return false;
  }
  return true;
}
