#include "settings.h"

#include <string.h>

#include "command_line.h"
#include "platform/platform.h"
#include "text.h"

unsigned idle_timeout_seconds = 0;

namespace {

// VESKAR_IGNORE's texts: each a start and length in ignore_value.
char ignore_value[max_ignore_length + 1];
size_t ignore_start[max_ignore_texts];
size_t ignore_length[max_ignore_texts];
size_t ignore_count = 0;

// VESKAR_FTP's value; empty when unset.
os_char client_value[command_line_size];

// VESKAR_FTP as read, before it is checked: one character more than a good value takes.
os_char client_read_area[command_line_size];

const char out_of_range[] = "VESKAR_IDLE_TIMEOUT is out of range: 1 to 604800 seconds, or 0 for none";
const char not_a_number[] = "VESKAR_IDLE_TIMEOUT is not a whole number of seconds";
const char ignore_too_long[] = "VESKAR_IGNORE is longer than 4095 characters";
const char client_too_long[] = "Command line too long";

}  // namespace

const char* take_idle_timeout(const char* value) {
  idle_timeout_seconds = 0;
  if (value == nullptr || value[0] == '\0') return nullptr;
  unsigned long seconds = 0;
  const char* p = value;
  if (*p == '-') ++p;  // a number, but out of range
  if (*p == '\0') return not_a_number;
  for (; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return not_a_number;
    // Stays put once past the limit, so that no number of digits can overflow it.
    if (seconds <= max_idle_timeout) seconds = seconds * 10 + static_cast<unsigned long>(*p - '0');
  }
  if ((value[0] == '-' && seconds != 0) || seconds > max_idle_timeout) return out_of_range;
  idle_timeout_seconds = static_cast<unsigned>(seconds);
  return nullptr;
}

const char* take_ignore_list(const char* value) {
  ignore_count = 0;
  if (value == nullptr) return nullptr;
  size_t length = strlen(value);
  if (length > max_ignore_length) return ignore_too_long;
  memcpy(ignore_value, value, length + 1);
  size_t start = 0;
  for (size_t i = 0; i <= length; ++i) {
    if (ignore_value[i] != ';' && ignore_value[i] != '\0') continue;
    size_t text_length = i - start;
    if (text_length > 0) {
      if (text_length > max_ignore_text_length) {
        ignore_count = 0;
        return "VESKAR_IGNORE holds a text longer than 255 characters";
      }
      if (ignore_count == max_ignore_texts) {
        ignore_count = 0;
        return "VESKAR_IGNORE holds more than 32 texts";
      }
      ignore_start[ignore_count] = start;
      ignore_length[ignore_count++] = text_length;
    }
    start = i + 1;
  }
  return nullptr;
}

const char* take_client(const os_char* value) {
  client_value[0] = '\0';
  if (value == nullptr) return nullptr;
  size_t length = text_length(value);
  // Not even the name alone would fit the command line.
  if (length + 1 > command_line_size - 1) return client_too_long;
  // The name is quoted when it holds a blank; a quote of its own would end that early.
  for (size_t i = 0; i < length; ++i)
    if (value[i] == '"') return "VESKAR_FTP holds a double quote";
  memcpy(client_value, value, (length + 1) * sizeof *value);
  return nullptr;
}

const char* read_settings() {
  // A value too long to read whole is too long for its variable. The timeout's can only
  // be one with characters that are no digits, which the system's limit lets grow.
  const char* value = read_environment("VESKAR_IDLE_TIMEOUT");
  if (const char* problem = value != nullptr ? take_idle_timeout(value) : not_a_number)
    return problem;
  value = read_environment("VESKAR_IGNORE");
  if (const char* problem = value != nullptr ? take_ignore_list(value) : ignore_too_long)
    return problem;
  // As the system holds it: on Windows no code page stands between the path and the
  // client.
  if (read_os_environment("VESKAR_FTP", client_read_area, command_line_size) >= command_line_size)
    return client_too_long;
  return take_client(client_read_area);
}

const os_char* client_program() { return client_value[0] != '\0' ? client_value : default_client; }

bool sign_ignored(const char* line, size_t length) {
  for (size_t t = 0; t < ignore_count; ++t)
    if (text_holds(line, length, ignore_value + ignore_start[t], ignore_length[t])) return true;
  return false;
}

size_t longest_ignored_text() {
  size_t longest = 0;
  for (size_t t = 0; t < ignore_count; ++t)
    if (ignore_length[t] > longest) longest = ignore_length[t];
  return longest;
}
