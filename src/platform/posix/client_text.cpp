// POSIX: a client writes bytes, and its C library speaks the client's locale.
#include "platform/platform.h"

#include <errno.h>
#include <locale.h>
#include <netdb.h>
#include <string.h>

size_t client_encoding_count() { return 1; }

size_t encode_for_client(const os_char* text, size_t length, size_t, char* out, size_t capacity) {
  if (length > capacity) return 0;
  memcpy(out, text, length);
  return length;
}

namespace {

// errno's value for a message; 0 for a name lookup's.
int error_number(library_message message) {
  switch (message) {
    case library_no_entry: return ENOENT;
    case library_access: return EACCES;
    case library_refused: return ECONNREFUSED;
    case library_net_unreachable: return ENETUNREACH;
    case library_no_space: return ENOSPC;
    case library_is_directory: return EISDIR;
    case library_not_directory: return ENOTDIR;
    case library_name_too_long: return ENAMETOOLONG;
    case library_io: return EIO;
    case library_read_only: return EROFS;
    case library_quota: return EDQUOT;
    case library_too_large: return EFBIG;
    case library_timed_out: return ETIMEDOUT;
    case library_reset: return ECONNRESET;
    case library_broken_pipe: return EPIPE;
    case library_host_unreachable: return EHOSTUNREACH;
    case library_host_down: return EHOSTDOWN;
    default: return 0;
  }
}

}  // namespace

void localize_library_messages(const library_message* messages, size_t count, char* texts,
                               size_t text_size, size_t* lengths) {
  for (size_t m = 0; m < count; ++m) lengths[m] = 0;
  // "" takes every category from the environment, as the client's setlocale(LC_ALL, "")
  // does; a locale that is not installed fails here as it fails there.
  locale_t client_locale = newlocale(LC_ALL_MASK, "", nullptr);
  if (client_locale == nullptr) return;
  for (size_t m = 0; m < count; ++m) {
    if (messages[m] == library_none) continue;
    const char* words = nullptr;
    if (int number = error_number(messages[m])) {
      words = strerror_l(number, client_locale);
    } else {
      // gai_strerror has no locale of its own to take: it uses the thread's.
      locale_t before = uselocale(client_locale);
      words = gai_strerror(messages[m] == library_name_unknown ? EAI_NONAME : EAI_AGAIN);
      uselocale(before);
    }
    size_t length = strlen(words);
    if (length >= text_size) continue;
    memcpy(texts + m * text_size, words, length + 1);
    lengths[m] = length;
  }
  freelocale(client_locale);
}
