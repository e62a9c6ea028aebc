#include "utf8.h"

#include <string.h>

namespace {

// How many of text[0, length)'s first bytes could begin a well-formed character, and
// into `size` how many that character takes (0 for a byte none begins with).
size_t valid_prefix(const char* text, size_t length, size_t* size) {
  const unsigned char* t = reinterpret_cast<const unsigned char*>(text);
  *size = t[0] < 0x80 ? 1 : t[0] >= 0xc2 && t[0] <= 0xdf ? 2 : t[0] >= 0xe0 && t[0] <= 0xef ? 3
        : t[0] >= 0xf0 && t[0] <= 0xf4 ? 4 : 0;
  if (*size == 0) return 0;
  size_t prefix = 1;
  for (; prefix < *size && prefix < length; ++prefix) {
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    unsigned char low = 0x80, high = 0xbf;
    if (prefix == 1 && t[0] == 0xe0) low = 0xa0;
    if (prefix == 1 && t[0] == 0xed) high = 0x9f;
    if (prefix == 1 && t[0] == 0xf0) low = 0x90;
    if (prefix == 1 && t[0] == 0xf4) high = 0x8f;
    if (t[prefix] < low || t[prefix] > high) break;
  }
  return prefix;
}

}  // namespace

size_t utf8_character(const char* text, size_t length) {
  size_t size = 0;
  return length > 0 && valid_prefix(text, length, &size) == size ? size : 0;
}

size_t repair_utf8(const char* bytes, size_t length, char* out, size_t capacity) {
  static const char replacement[] = "\xef\xbf\xbd";
  size_t written = 0;
  for (size_t at = 0; at < length;) {
    size_t size = 0;
    size_t prefix = valid_prefix(bytes + at, length - at, &size);
    bool whole = size > 0 && prefix == size;
    size_t take = whole ? size : 3;
    if (written + take > capacity) break;
    memcpy(out + written, whole ? bytes + at : replacement, take);
    written += take;
    // A piece that begins a character but ends too soon is one bad piece, as Unicode
    // advises (its "maximal subpart").
    at += whole ? size : prefix > 0 ? prefix : 1;
  }
  return written;
}
