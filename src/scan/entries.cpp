#include "scan/entries.h"

#include "platform/platform.h"
#include "scan/index.h"
#include "settings/settings.h"

namespace {

enum { localized_size = 512 };

// The client table's C library texts, in the client's language.
char localized[max_client_signatures][localized_size];
size_t localized_length[max_client_signatures];

search_entry entries[max_entries];

}  // namespace

const char* prepare_search() {
  localize_library_messages(client_signature_sources, client_signature_count, localized[0],
                            localized_size, localized_length);
  size_t count = 0;
  // Counted only before a reply, as the English ones are; a text the same as the
  // English (the C locale) is searched once, under the table's entry.
  for (size_t e = 0; e < client_signature_count; ++e)
    if (localized_length[e] >= min_entry_length)
      entries[count++] = {localized[e], localized_length[e], false};
  // The site's own count anywhere in a line, as the table's own messages do.
  for (size_t s = 0; s < site_sign_count() && count < max_entries; ++s) {
    size_t length = 0;
    const char* text = site_sign(s, &length);
    entries[count++] = {text, length, true, site_sign_encoding(s)};
  }
  return build_search_index(entries, count) ? nullptr : "Failure messages do not fit the search";
}
