// The wrapper's own settings, from VESKAR_* environment variables, read and checked
// once at start-up. Unset (or empty), each leaves the run as it is without it.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

enum {
  max_idle_timeout = 604800,  // a week, in seconds
  min_sign_length = 4,        // VESKAR_SIGNS: the shortest text the search places
};

// VESKAR_IDLE_TIMEOUT: seconds the client may go without activity before it is
// stopped; 0 when it never is.
extern unsigned idle_timeout_seconds;

// VESKAR_ON_FAILURE=stop: the client gets its commands a line at a time, and none after
// the first sign that counts.
extern bool stop_on_failure;

// Reads VESKAR_IDLE_TIMEOUT, VESKAR_IGNORE, VESKAR_SIGNS, VESKAR_ON_FAILURE,
// VESKAR_PROMPTS, VESKAR_FTP and VESKAR_LOG and keeps them.
// Returns nullptr when all are good, or the message for report_fatal about the first
// that is not.
const char* read_settings();

// The checks read_settings makes, each on one value (nullptr or "": unset), which it
// keeps when good. Each returns nullptr, or what is wrong. For read_settings and tests.
// The lists hold texts separated by ';', empty ones skipped, each kept in every
// encoding the client may write it in (text_list.h).
const char* take_idle_timeout(const char* value);     // a whole number, 0 to max_idle_timeout
const char* take_ignore_list(const os_char* value);  // texts of any length
const char* take_sign_list(const os_char* value);    // texts of min_sign_length or more
const char* take_client(const os_char* value);       // a program name or path, kept as given
const char* take_on_failure(const char* value);      // "continue" or "stop"
const char* take_prompt_list(const os_char* value);  // texts of any length

// The client's program name: VESKAR_FTP's value, or default_client.
const os_char* client_program();

// VESKAR_LOG's value, the file the run's record goes to; empty when unset.
const os_char* record_path();

// True when `line` (length bytes, not terminated) contains one of VESKAR_IGNORE's texts.
bool sign_ignored(const char* line, size_t length);

// The length of VESKAR_IGNORE's longest text; 0 when it holds none.
size_t longest_ignored_text();

// VESKAR_SIGNS's texts, in the order given, each in every form: how many, each, and the
// client encoding each form is in.
size_t site_sign_count();
const char* site_sign(size_t sign, size_t* length);
size_t site_sign_encoding(size_t sign);

// VESKAR_PROMPTS's texts, the site's own prompts, in the order given, each in every
// form: how many, and each.
size_t site_prompt_count();
const char* site_prompt(size_t prompt, size_t* length);
