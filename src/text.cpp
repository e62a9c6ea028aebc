#include "text.h"

#include <string.h>

bool text_holds(const char* text, size_t length, const char* pattern, size_t size) {
  for (size_t i = 0; i + size <= length; ++i)
    if (text[i] == pattern[0] && memcmp(text + i, pattern, size) == 0) return true;
  return false;
}

size_t text_decimal(unsigned long long number, char* out) {
  char digits[20];
  size_t count = 0;
  do digits[count++] = static_cast<char>('0' + number % 10);
  while ((number /= 10) != 0);
  for (size_t d = 0; d < count; ++d) out[d] = digits[count - 1 - d];
  return count;
}

size_t text_length(const os_char* text) {
  size_t length = 0;
  while (text[length] != '\0') ++length;
  return length;
}
