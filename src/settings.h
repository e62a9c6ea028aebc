// The wrapper's own settings, from VESKAR_* environment variables, read and checked
// once at start-up. Unset (or empty), each leaves the run as it is without it.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

enum {
  max_idle_timeout = 604800,   // a week, in seconds
  max_ignore_texts = 32,       // VESKAR_IGNORE: texts in the list
  max_ignore_text_length = 255,
  max_ignore_length = 4095,    // the whole value
};

// VESKAR_IDLE_TIMEOUT: seconds the client may go without activity before it is
// stopped; 0 when it never is.
extern unsigned idle_timeout_seconds;

// Reads VESKAR_IDLE_TIMEOUT, VESKAR_IGNORE and VESKAR_FTP and keeps them. Returns
// nullptr when all are good, or the message for report_fatal about the first that is
// not.
const char* read_settings();

// The checks read_settings makes, each on one value (nullptr or "": unset), which it
// keeps when good. Each returns nullptr, or what is wrong. For read_settings and tests.
const char* take_idle_timeout(const char* value);  // a whole number, 0 to max_idle_timeout
const char* take_ignore_list(const char* value);   // texts separated by ';', empty ones skipped
const char* take_client(const os_char* value);     // a program name or path

// The client's program name: VESKAR_FTP's value, or default_client.
const os_char* client_program();

// True when `line` (length bytes, not terminated) contains one of VESKAR_IGNORE's texts.
bool sign_ignored(const char* line, size_t length);

// The length of VESKAR_IGNORE's longest text; 0 when it holds none.
size_t longest_ignored_text();
