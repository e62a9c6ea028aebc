#include "settings/settings.h"

#include <string.h>

#include "platform/platform.h"
#include "settings/text_list.h"
#include "text.h"

unsigned idle_timeout_seconds = 0;
bool stop_on_failure = false;

namespace {

text_list ignored_texts;  // VESKAR_IGNORE
text_list site_texts;     // VESKAR_SIGNS
text_list prompt_texts;   // VESKAR_PROMPTS

// A list setting: its variable, where it is kept, its shortest text and its messages.
struct list_setting {
  const char* name;
  text_list* list;
  size_t shortest;
  list_messages messages;
};
const list_setting ignore_setting = {
    "VESKAR_IGNORE", &ignored_texts, 1,
    {"VESKAR_IGNORE is longer than 4095 characters", "VESKAR_IGNORE holds more than 32 texts",
     "VESKAR_IGNORE holds a text longer than 255 characters", nullptr,
     "VESKAR_IGNORE holds a text the client cannot write"}};
const list_setting sign_setting = {
    "VESKAR_SIGNS", &site_texts, min_sign_length,
    {"VESKAR_SIGNS is longer than 4095 characters", "VESKAR_SIGNS holds more than 32 texts",
     "VESKAR_SIGNS holds a text longer than 255 characters",
     "VESKAR_SIGNS holds a text shorter than 4 characters",
     "VESKAR_SIGNS holds a text the client cannot write"}};
const list_setting prompt_setting = {
    "VESKAR_PROMPTS", &prompt_texts, 1,
    {"VESKAR_PROMPTS is longer than 4095 characters", "VESKAR_PROMPTS holds more than 32 texts",
     "VESKAR_PROMPTS holds a text longer than 255 characters", nullptr,
     "VESKAR_PROMPTS holds a text the client cannot write"}};

const char* take_list(const list_setting* setting, const os_char* value, size_t length) {
  return take_text_list(setting->list, value, length, setting->shortest, &setting->messages);
}

// Reads a list as the system holds it: on Windows each text is then written in the
// client's encodings, with no best fit. One character more than a good value takes.
const char* read_list(const list_setting* setting) {
  static os_char value[max_list_length + 2];
  return take_list(setting, value, read_os_environment(setting->name, value, max_list_length + 2));
}

// VESKAR_LOG's value, as the system holds it: a path up to the system's longest value.
os_char record_path_value[32768];

// VESKAR_FTP's value as take_client was given it; nullptr when unset or empty.
const os_char* client_value = nullptr;

#ifdef _WIN32
// VESKAR_FTP as read, before it is checked: one character more than a good value takes.
os_char client_read_area[max_program_length + 2];
const char client_too_long[] = "Command line too long";
#endif

const char out_of_range[] = "VESKAR_IDLE_TIMEOUT is out of range: 1 to 604800 seconds, or 0 for none";
const char not_a_number[] = "VESKAR_IDLE_TIMEOUT is not a whole number of seconds";

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

const char* take_ignore_list(const os_char* value) {
  return take_list(&ignore_setting, value, value != nullptr ? text_length(value) : 0);
}

const char* take_sign_list(const os_char* value) {
  return take_list(&sign_setting, value, value != nullptr ? text_length(value) : 0);
}

const char* take_prompt_list(const os_char* value) {
  return take_list(&prompt_setting, value, value != nullptr ? text_length(value) : 0);
}

const char* take_on_failure(const char* value) {
  stop_on_failure = false;
  if (value == nullptr || value[0] == '\0' || strcmp(value, "continue") == 0) return nullptr;
  if (strcmp(value, "stop") != 0) return "VESKAR_ON_FAILURE is neither continue nor stop";
  stop_on_failure = true;
  return nullptr;
}

const char* take_client(const os_char* value) {
  client_value = nullptr;
  if (value == nullptr || value[0] == '\0') return nullptr;
#ifdef _WIN32
  // The name and its blank must fit the command line by themselves.
  if (text_length(value) > max_program_length) return client_too_long;
  // The name is quoted when it holds a blank; a quote of its own would end that early.
  for (const os_char* c = value; *c != '\0'; ++c)
    if (*c == '"') return "VESKAR_FTP holds a double quote";
#endif
  // Kept, not copied: on POSIX exec takes any value the environment can hold.
  client_value = value;
  return nullptr;
}

const char* read_settings() {
  if (const char* problem = take_idle_timeout(read_environment("VESKAR_IDLE_TIMEOUT"))) return problem;
  if (const char* problem = read_list(&ignore_setting)) return problem;
  if (const char* problem = read_list(&sign_setting)) return problem;
  if (const char* problem = take_on_failure(read_environment("VESKAR_ON_FAILURE"))) return problem;
  if (const char* problem = read_list(&prompt_setting)) return problem;
  if (read_os_environment("VESKAR_LOG", record_path_value, 32768) >= 32768)
    return "VESKAR_LOG is longer than the system's longest value";
#ifdef _WIN32
  // As the system holds it: no code page stands between the path and the client.
  if (read_os_environment("VESKAR_FTP", client_read_area, max_program_length + 2) >=
      max_program_length + 2)
    return client_too_long;
  return take_client(client_read_area);
#else
  // The environment's own bytes, which last the run.
  return take_client(read_environment("VESKAR_FTP"));
#endif
}

const os_char* client_program() { return client_value != nullptr ? client_value : default_client; }

const os_char* record_path() { return record_path_value; }

bool sign_ignored(const char* line, size_t length) { return list_holds(&ignored_texts, line, length); }

size_t longest_ignored_text() { return longest_form(&ignored_texts); }

size_t site_sign_count() { return site_texts.count; }

const char* site_sign(size_t sign, size_t* length) {
  *length = site_texts.length[sign];
  return site_texts.bytes + site_texts.start[sign];
}

size_t site_sign_encoding(size_t sign) { return site_texts.encoding[sign]; }

size_t site_prompt_count() { return prompt_texts.count; }

const char* site_prompt(size_t prompt, size_t* length) {
  *length = prompt_texts.length[prompt];
  return prompt_texts.bytes + prompt_texts.start[prompt];
}
