#include "record/redact.h"

#include <string.h>

size_t mask_password(char* text, size_t length) {
  const char* scheme = nullptr;
  for (size_t at = 0; at + 3 <= length && scheme == nullptr; ++at)
    if (memcmp(text + at, "://", 3) == 0) scheme = text + at + 3;
  if (scheme == nullptr) return length;
  // The user part runs to the last '@', as the clients read it: a password may hold
  // '/', '?', '#', '@' and escapes. Where the '@' is the path's, more is masked, never less.
  const char* at_sign = nullptr;
  for (const char* p = scheme; p < text + length; ++p)
    if (*p == '@') at_sign = p;
  const char* colon = at_sign ? static_cast<const char*>(memchr(scheme, ':', static_cast<size_t>(at_sign - scheme))) : nullptr;
  if (colon == nullptr) return length;
  size_t from = static_cast<size_t>(colon + 1 - text), to = static_cast<size_t>(at_sign - text);
  static const char stars[] = "****";
  size_t after = length - to;
  memmove(text + from + 4, text + to, after);
  memcpy(text + from, stars, 4);
  return from + 4 + after;
}
