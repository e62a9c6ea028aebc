#include "text.h"

#include <string.h>

bool text_holds(const char* text, size_t length, const char* pattern, size_t size) {
  for (size_t i = 0; i + size <= length; ++i)
    if (text[i] == pattern[0] && memcmp(text + i, pattern, size) == 0) return true;
  return false;
}

size_t text_length(const os_char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}
