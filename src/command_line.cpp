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

bool is_blank(os_char c) { return c == ' ' || c == '\t'; }

// Whether `text` holds a blank or a tab, or a double quote when `quote` counts too.
bool holds_separator(const os_char* text, bool quote) {
  for (; *text != '\0'; ++text)
    if (is_blank(*text) || (quote && *text == '"')) return true;
  return false;
}

}  // namespace

size_t text_length(const os_char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

bool build_command_line(os_char* line, const os_char* client, int count,
                        const os_char* const* arguments) {
  size_t used = 0;
  line[0] = '\0';
  // Quoted, a program path with blanks stays one word for the system's own split.
  bool quoted = holds_separator(client, false);
  if (!append_repeated(line, &used, '"', quoted ? 1 : 0) ||
      !append(line, &used, client, text_length(client)) ||
      !append_repeated(line, &used, '"', quoted ? 1 : 0) || !append_repeated(line, &used, ' ', 1))
    return false;
  for (int a = 1; a < count; ++a) {
    const os_char* argument = arguments[a];
    // As it is, so that every line that needs no quotes stays as it always was.
    bool plain = argument[0] != '\0' && !holds_separator(argument, true);
    if (plain ? !append(line, &used, argument, text_length(argument)) ||
                    !append_repeated(line, &used, ' ', 1)
              : !append_quoted(line, &used, argument))
      return false;
  }
  return true;
}

size_t split_command_line(const os_char* line, os_char* area, os_char** words) {
  if (text_length(line) > command_line_size - 1) return 0;
  const os_char* p = line;
  os_char* to = area;
  size_t count = 0;
  // The program word: as CreateProcess reads it, quotes but no escapes.
  if (*p == '"') {
    const os_char* close_quote = p + 1;
    while (*close_quote != '\0' && *close_quote != '"') ++close_quote;
    if (*close_quote == '\0' || close_quote == p + 1) return 0;
    words[count++] = to;
    while (++p != close_quote) *to++ = *p;
    ++p;
  } else {
    if (*p == '\0' || is_blank(*p)) return 0;
    words[count++] = to;
    while (*p != '\0' && !is_blank(*p)) *to++ = *p++;
  }
  *to++ = '\0';
  // Each word takes at least as many characters of the line as of the area, its
  // terminator paid for by the blank or the line's own terminator after it.
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
        for (size_t b = 0; b < backslashes / 2; ++b) *to++ = '\\';
        if (backslashes % 2 == 1)
          *to++ = '"';
        else
          quoting = !quoting;
        ++p;
        continue;
      }
      for (size_t b = 0; b < backslashes; ++b) *to++ = '\\';
      if (*p != '\0' && (quoting || !is_blank(*p))) *to++ = *p++;
    }
    *to++ = '\0';
  }
  words[count] = nullptr;
  return count;
}
