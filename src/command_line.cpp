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

// Appends `count` backslashes if they and the terminator fit.
bool append_backslashes(char* line, size_t* used, size_t count) {
  if (count + 1 > command_line_size - *used) return false;
  memset(line + *used, '\\', count);
  *used += count;
  line[*used] = '\0';
  return true;
}

// Appends `argument` in double quotes and its space. Backslashes count only before a
// double quote, the closing one included: there they are doubled, and one more makes
// a quote of the argument's own literal.
bool append_quoted(char* line, size_t* used, const char* argument) {
  if (!append(line, used, "\"", 1)) return false;
  size_t backslashes = 0;
  for (const char* p = argument;; ++p) {
    if (*p == '\\') {
      ++backslashes;
      continue;
    }
    if (*p == '\0')
      return append_backslashes(line, used, 2 * backslashes) && append(line, used, "\" ", 2);
    size_t run = *p == '"' ? 2 * backslashes + 1 : backslashes;
    if (!append_backslashes(line, used, run) || !append(line, used, p, 1)) return false;
    backslashes = 0;
  }
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

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
    const char* argument = arguments[a];
    // As it is, so that every line that needs no quotes stays as it always was.
    bool plain = argument[0] != '\0' && strpbrk(argument, " \t\"") == nullptr;
    if (plain ? !append(line, &used, argument, strlen(argument)) || !append(line, &used, " ", 1)
              : !append_quoted(line, &used, argument))
      return false;
  }
  return true;
}

size_t split_command_line(const char* line, char* area, char** words) {
  if (strlen(line) > command_line_size - 1) return 0;
  const char* p = line;
  char* to = area;
  size_t count = 0;
  // The program word: as CreateProcess reads it, quotes but no escapes.
  if (*p == '"') {
    const char* close_quote = strchr(p + 1, '"');
    if (close_quote == nullptr || close_quote == p + 1) return 0;
    words[count++] = to;
    memcpy(to, p + 1, static_cast<size_t>(close_quote - p - 1));
    to += close_quote - p - 1;
    p = close_quote + 1;
  } else {
    if (*p == '\0' || is_blank(*p)) return 0;
    words[count++] = to;
    while (*p != '\0' && !is_blank(*p)) *to++ = *p++;
  }
  *to++ = '\0';
  // Each word takes at least as many bytes of the line as of the area, its terminator
  // paid for by the blank or the line's own terminator after it.
  for (;;) {
    while (is_blank(*p)) ++p;
    if (*p == '\0') break;
    if (count >= command_line_words) return 0;
    words[count++] = to;
    bool quoting = false;
    while (*p != '\0' && (quoting || !is_blank(*p))) {
      size_t backslashes = 0;
      while (*p == '\\') {
        ++backslashes;
        ++p;
      }
      if (*p == '"') {
        memset(to, '\\', backslashes / 2);
        to += backslashes / 2;
        if (backslashes % 2 == 1)
          *to++ = '"';
        else
          quoting = !quoting;
        ++p;
        continue;
      }
      memset(to, '\\', backslashes);
      to += backslashes;
      if (*p != '\0' && (quoting || !is_blank(*p))) *to++ = *p++;
    }
    *to++ = '\0';
  }
  words[count] = nullptr;
  return count;
}
