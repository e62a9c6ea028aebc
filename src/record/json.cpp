#include "record/json.h"

#include <string.h>

#include "text.h"

void json_put(json_text* json, const char* text, size_t length) {
  if (json->used + length > json->capacity) return;
  memcpy(json->bytes + json->used, text, length);
  json->used += length;
}

void json_put(json_text* json, const char* text) { json_put(json, text, strlen(text)); }

void json_put_number(json_text* json, unsigned long long number) {
  char digits[20];
  json_put(json, digits, text_decimal(number, digits));
}

size_t json_string(const char* text, size_t length, char* out, size_t room) {
  size_t used = 0;
  out[used++] = '"';
  for (size_t at = 0; at < length; ++at) {
    unsigned char c = static_cast<unsigned char>(text[at]);
    char escaped[8];
    size_t size = 1;
    escaped[0] = static_cast<char>(c);
    if (c == '"' || c == '\\') {
      escaped[0] = '\\';
      escaped[1] = static_cast<char>(c);
      size = 2;
    } else if (c < 0x20) {
      memcpy(escaped, "\\u00", 4);
      escaped[4] = "0123456789abcdef"[c >> 4];
      escaped[5] = "0123456789abcdef"[c & 15];
      size = 6;
    } else if (c >= 0x80) {
      // A whole character or nothing: the text is UTF-8 already.
      size = 1;
      while (at + size < length && (static_cast<unsigned char>(text[at + size]) & 0xc0) == 0x80) ++size;
      if (used + size + 1 > room) break;
      memcpy(out + used, text + at, size);
      used += size;
      at += size - 1;
      continue;
    }
    if (used + size + 1 > room) break;
    memcpy(out + used, escaped, size);
    used += size;
  }
  out[used++] = '"';
  return used;
}

void json_put_string(json_text* json, const char* utf8, size_t length, size_t room) {
  size_t left = json->capacity - json->used;
  json->used += json_string(utf8, length, json->bytes + json->used, room < left ? room : left);
}

void json_put_time(json_text* json, int64_t ms) {
  // The days from the civil calendar's own arithmetic: no library time zone involved.
  int64_t days = ms / 86400000, rest = ms % 86400000;
  int64_t z = days + 719468, era = z / 146097, doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  int64_t year = yoe + era * 400 + (month <= 2);
  const int64_t parts[] = {year, month, day, rest / 3600000, rest / 60000 % 60, rest / 1000 % 60,
                           rest % 1000};
  const char* after[] = {"-", "-", "T", ":", ":", ".", "Z"};
  const int widths[] = {4, 2, 2, 2, 2, 2, 3};
  json_put(json, "\"");
  for (int k = 0; k < 7; ++k) {
    char digits[8];
    int64_t value = parts[k];
    for (int d = widths[k] - 1; d >= 0; --d, value /= 10) digits[d] = static_cast<char>('0' + value % 10);
    json_put(json, digits, static_cast<size_t>(widths[k]));
    json_put(json, after[k]);
  }
  json_put(json, "\"");
}
