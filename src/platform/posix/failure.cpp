// POSIX: why the last operation failed, in words, and text as a person reads it.
#include "platform/platform.h"

#include <errno.h>
#include <string.h>

#include <initializer_list>

size_t describe_failure(const os_char* what, os_char* out, size_t capacity) {
  // The wrapper never sets a locale: the C library's words are its English ones.
  const char* reason = strerror(errno);
  size_t used = 0;
  for (const char* part : {what, ": ", reason})
    for (const char* c = part; *c != '\0' && used + 1 < capacity; ++c) out[used++] = *c;
  out[used] = '\0';
  return used;
}

bool write_os_text(os_handle handle, const os_char* text, size_t length) {
  return write_handle(handle, text, length);
}
