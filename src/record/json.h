// JSON text built into a fixed line: what the run's record is written in.
#pragma once

#include <stddef.h>
#include <stdint.h>

// A JSON text under construction: bytes[0, used) of `capacity`. Parts that would not fit
// are left out whole; the record bounds every part so that none is.
struct json_text {
  char* bytes;
  size_t capacity;
  size_t used;
};

void json_put(json_text* json, const char* text, size_t length);
void json_put(json_text* json, const char* text);

// A whole number in decimal.
void json_put_number(json_text* json, unsigned long long number);

// UTF-8 text as a JSON string, escaped as JSON requires, in at most `room` bytes with
// its quotes: cut before a character that would not fit.
void json_put_string(json_text* json, const char* utf8, size_t length, size_t room);

// The same into `out`; returns the bytes written.
size_t json_string(const char* utf8, size_t length, char* out, size_t room);

// "YYYY-MM-DDTHH:MM:SS.mmmZ", quoted, for `ms` milliseconds since 1970-01-01 UTC.
void json_put_time(json_text* json, int64_t ms);
