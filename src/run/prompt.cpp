#include "run/prompt.h"

#include <string.h>

#include "settings/settings.h"

namespace {

const char ftp_prompt[] = "ftp> ";
// The tail holds a site's text of 255 characters in UTF-8 and its blank, or a login
// prompt with a host name of 255.
enum { ftp_prompt_length = sizeof ftp_prompt - 1, tail_size = 1024 };

// The line so far: its length (saturating), whether it is "ftp> " and nothing else, once
// or more, and its last bytes, which hold every prompt and every site text whole.
struct prompt_line {
  size_t length;
  bool prompts_only;
  char tail[tail_size];
  size_t tail_length;
};
prompt_line line;

bool starts(const char* text, size_t length, const char* start) {
  size_t size = strlen(start);
  return length >= size && memcmp(text, start, size) == 0;
}

bool ends(const char* text, size_t length, const char* end, size_t size) {
  return length >= size && memcmp(text + length - size, end, size) == 0;
}

// A prompt with a part of the client's own between a fixed start and end.
bool framed(const char* text, size_t length, const char* start, const char* end) {
  return starts(text, length, start) && length > strlen(start) + strlen(end) &&
         ends(text, length, end, strlen(end));
}

}  // namespace

void start_prompt_line() { line = {0, true, {}, 0}; }

void note_prompt_output(const char* bytes, size_t length) {
  // Only what follows the last line feed is the line so far.
  for (size_t at = length; at > 0; --at)
    if (bytes[at - 1] == '\n') {
      start_prompt_line();
      bytes += at;
      length -= at;
      break;
    }
  for (size_t i = 0; i < length && line.prompts_only; ++i)
    line.prompts_only = bytes[i] == ftp_prompt[(line.length + i) % ftp_prompt_length];
  line.length = line.length + length < line.length ? line.length : line.length + length;
  if (length >= tail_size) {
    memcpy(line.tail, bytes + length - tail_size, tail_size);
    line.tail_length = tail_size;
    return;
  }
  size_t keep = line.tail_length + length > tail_size ? tail_size - length : line.tail_length;
  memmove(line.tail, line.tail + line.tail_length - keep, keep);
  memcpy(line.tail + keep, bytes, length);
  line.tail_length = keep + length;
}

bool prompt_shown() {
  if (line.length == 0) return false;
  if (line.prompts_only) return line.length % ftp_prompt_length == 0;
  // A site's text has lost the blanks around it: the prompt may have one more.
  size_t tail_length = line.tail_length;
  if (tail_length > 0 && line.tail[tail_length - 1] == ' ') --tail_length;
  for (size_t p = 0; p < site_prompt_count(); ++p) {
    size_t size = 0;
    const char* text = site_prompt(p, &size);
    if (ends(line.tail, line.tail_length, text, size) || ends(line.tail, tail_length, text, size)) return true;
  }
  // The built-in prompts stand at the line's start, after any "ftp> ".
  if (line.length > tail_size) return false;
  const char* rest = line.tail;
  size_t length = line.tail_length;
  while (starts(rest, length, ftp_prompt)) {
    rest += ftp_prompt_length;
    length -= ftp_prompt_length;
  }
  static const char* const questions[] = {"mput ", "mget ", "mdelete "};
  for (const char* question : questions)
    if (framed(rest, length, question, "? ")) return true;
  return framed(rest, length, "User (", "): ") || framed(rest, length, "Name (", "): ") ||
         (length == 9 && starts(rest, length, "Password:")) ||
         (length == 10 && starts(rest, length, "Password: "));
}
