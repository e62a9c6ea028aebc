// Windows: a client writes in the console's code page, the ANSI one or UTF-8, and the
// C runtime's failure texts are English whatever the display language.
#include "shared.h"

size_t client_encoding_count() { return max_client_encodings; }

size_t encode_for_client(const os_char* text, size_t length, size_t encoding, char* out,
                         size_t capacity) {
  UINT page = encoding == oem_encoding ? GetOEMCP() : encoding == ansi_encoding ? GetACP() : CP_UTF8;
  int written;
  BOOL defaulted = FALSE;
  if (page == CP_UTF8) {
    // Only a lone surrogate has no form in UTF-8.
    written = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(length),
                                  out, static_cast<int>(capacity), nullptr, nullptr);
  } else {
    // No best fit: a character the page lacks gives no form, never a look-alike.
    written = WideCharToMultiByte(page, WC_NO_BEST_FIT_CHARS, text, static_cast<int>(length), out,
                                  static_cast<int>(capacity), nullptr, &defaulted);
  }
  return written > 0 && !defaulted ? static_cast<size_t>(written) : 0;
}

void localize_library_messages(const library_message*, size_t count, char*, size_t, size_t* lengths) {
  for (size_t m = 0; m < count; ++m) lengths[m] = 0;
}
