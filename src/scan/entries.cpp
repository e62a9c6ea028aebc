// The entries, taken in order and checked.
#include "scan/entries.h"

#include <string.h>

namespace {

struct entry_list {
  bool taken;
  bool fits;
  unsigned version;
  size_t count;
  size_t longest;
  search_entry entry[max_entries];
};
entry_list entries;

bool take(const char* text, size_t length, bool counts_in_reply) {
  if (entries.count == max_entries || length < min_entry_length || length > max_entry_length ||
      memchr(text, '\0', length) != nullptr)
    return false;
  entries.entry[entries.count++] = {text, length, counts_in_reply};
  if (length > entries.longest) entries.longest = length;
  return true;
}

bool take_all(const search_entry* extra, size_t extra_count) {
  for (size_t e = 0; e < signature_count; ++e)
    if (!take(error_signatures[e], strlen(error_signatures[e]), true)) return false;
  for (size_t e = 0; e < client_signature_count; ++e)
    if (!take(client_signatures[e], strlen(client_signatures[e]), false)) return false;
  for (size_t e = 0; e < extra_count; ++e) {
    bool known = false;
    for (size_t p = 0; p < entries.count && !known; ++p) {
      search_entry& earlier = entries.entry[p];
      known = earlier.length == extra[e].length && memcmp(earlier.text, extra[e].text, extra[e].length) == 0;
      if (known) earlier.counts_in_reply |= extra[e].counts_in_reply;
    }
    if (!known && !take(extra[e].text, extra[e].length, extra[e].counts_in_reply)) return false;
  }
  return true;
}

void take_tables_once() {
  if (!entries.taken) build_search_index(nullptr, 0);
}

}  // namespace

bool build_search_index(const search_entry* extra, size_t count) {
  unsigned version = entries.version + 1;
  entries = {};
  entries.taken = true;
  entries.version = version;
  entries.fits = take_all(extra, count);
  if (!entries.fits) entries.count = 0;
  return entries.fits;
}

size_t search_entry_count() {
  take_tables_once();
  return entries.count;
}

search_entry search_entry_at(size_t entry) { return entries.entry[entry]; }

size_t longest_search_entry() {
  take_tables_once();
  return entries.longest;
}

unsigned entries_version() {
  take_tables_once();
  return entries.version;
}
