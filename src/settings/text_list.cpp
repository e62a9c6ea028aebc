#include "settings/text_list.h"

#include <string.h>

#include "text.h"

namespace {

bool is_blank(os_char c) { return c == ' ' || c == '\t'; }

// Adds the forms of one text; false when no encoding can write it.
bool add_forms(text_list* list, size_t* used, const os_char* text, size_t length) {
  size_t first = list->count;
  for (size_t e = 0; e < client_encoding_count(); ++e) {
    char* at = list->bytes + *used;
    size_t written = encode_for_client(text, length, e, at, sizeof list->bytes - *used);
    if (written == 0) continue;
    bool known = false;
    for (size_t f = first; f < list->count && !known; ++f)
      known = list->length[f] == written && memcmp(list->bytes + list->start[f], at, written) == 0;
    if (known) continue;
    list->start[list->count] = *used;
    list->encoding[list->count] = e;
    list->length[list->count++] = written;
    *used += written;
  }
  return list->count > first;
}

}  // namespace

const char* take_text_list(text_list* list, const os_char* value, size_t length, size_t shortest,
                           const list_messages* messages) {
  list->count = 0;
  if (value == nullptr) return nullptr;
  if (length > max_list_length) return messages->too_long;
  size_t used = 0;
  size_t texts = 0;
  const char* problem = nullptr;
  for (size_t start = 0, i = 0; i <= length && problem == nullptr; ++i) {
    if (i < length && value[i] != ';') continue;
    // Blanks around a text are the list's layout, not the text's ("a; b").
    size_t end = i;
    while (start < end && is_blank(value[start])) ++start;
    while (end > start && is_blank(value[end - 1])) --end;
    size_t size = end - start;
    if (size > max_list_text_length)
      problem = messages->text_too_long;
    else if (size > 0 && size < shortest)
      problem = messages->text_too_short;
    else if (size > 0 && texts++ == max_list_texts)
      problem = messages->too_many;
    else if (size > 0 && !add_forms(list, &used, value + start, size))
      problem = messages->unwritable;
    start = i + 1;
  }
  if (problem != nullptr) list->count = 0;
  return problem;
}

bool list_holds(const text_list* list, const char* text, size_t length) {
  for (size_t f = 0; f < list->count; ++f)
    if (text_holds(text, length, list->bytes + list->start[f], list->length[f])) return true;
  return false;
}

size_t longest_form(const text_list* list) {
  size_t longest = 0;
  for (size_t f = 0; f < list->count; ++f)
    if (list->length[f] > longest) longest = list->length[f];
  return longest;
}
