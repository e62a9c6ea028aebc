// POSIX: a client writes bytes, and its C library speaks the client's locale.
#include "platform/platform.h"

#include <errno.h>
#include <locale.h>
#include <netdb.h>
#include <stdlib.h>
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

// The locale setlocale(category, "") takes for the category whose own variable is
// `variable`: the first of LC_ALL, that variable and LANG that is set and not empty;
// "C" when none is.
const char* locale_name(const char* variable) {
  const char* const variables[] = {"LC_ALL", variable, "LANG"};
  for (const char* name : variables) {
    const char* value = getenv(name);
    if (value != nullptr && value[0] != '\0') return value;
  }
  return "C";
}

// The locales the C library has built in, which never fail to load.
bool built_in(const char* name) { return strcmp(name, "C") == 0 || strcmp(name, "POSIX") == 0; }

// Whether the client's C library speaks its own English with messages in locale
// `messages`: always in C and POSIX; in C.UTF-8 and its kin unless LANGUAGE names the
// languages to speak, which gettext heeds in every locale but C.
bool speaks_english(const char* messages) {
  if (built_in(messages)) return true;
  const char* languages = getenv("LANGUAGE");
  return strncmp(messages, "C.", 2) == 0 && (languages == nullptr || languages[0] == '\0');
}

// The categories to load: the words need only the messages and the character set. The
// client's setlocale(LC_ALL, "") fails whole when any category's locale is missing, so
// all are loaded, to fail as that would, when another category names a locale that
// neither of those two does and that is not built in.
int categories_to_load(const char* messages, const char* characters) {
  const char* const others[] = {"LC_NUMERIC", "LC_TIME",    "LC_COLLATE",   "LC_MONETARY",
                                "LC_PAPER",   "LC_NAME",    "LC_ADDRESS",   "LC_TELEPHONE",
                                "LC_MEASUREMENT", "LC_IDENTIFICATION"};
  for (const char* variable : others) {
    const char* name = locale_name(variable);
    if (!built_in(name) && strcmp(name, messages) != 0 && strcmp(name, characters) != 0)
      return LC_ALL_MASK;
  }
  return LC_MESSAGES_MASK | LC_CTYPE_MASK;
}

}  // namespace

void localize_library_messages(const library_message* messages, size_t count, char* texts,
                               size_t text_size, size_t* lengths) {
  for (size_t m = 0; m < count; ++m) lengths[m] = 0;
  // Told from the environment alone, before any lookup: the table's own words cost
  // nothing.
  const char* messages_locale = locale_name("LC_MESSAGES");
  if (speaks_english(messages_locale)) return;
  // "" takes the categories from the environment, as the client's setlocale(LC_ALL, "")
  // does; a locale that is not installed fails here as it fails there.
  locale_t client_locale =
      newlocale(categories_to_load(messages_locale, locale_name("LC_CTYPE")), "", nullptr);
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
