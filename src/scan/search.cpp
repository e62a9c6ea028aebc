// A line's rules: which signs count, in which order.
#include "scan/search.h"

#include <stdint.h>
#include <string.h>

#include "scan/replies.h"
#include "text.h"

namespace {

enum { max_replies = piece_size / 5 + 2 };  // each takes a break, a code and a space

// What one search of a piece found.
struct piece_finds {
  entry_set found;
  size_t searched;  // where the text entries may lie in ends: its first zero byte, or its end
  size_t reply_count;
  size_t reply[max_replies];  // where each reply line starts, in order
};

// Searches text[0, length), whose stream byte before it was `before`.
void search_piece(const search_index* index, const char* text, size_t length, char before,
                  piece_finds* finds) {
  memset(&finds->found, 0, sizeof finds->found);
  // Each entry is searched as a C string: a zero byte ends the text it can lie in.
  const void* zero = memchr(text, '\0', length);
  finds->searched = zero ? static_cast<size_t>(static_cast<const char*>(zero) - text) : length;
  find_entries(index, text, finds->searched, &finds->found);
  finds->reply_count = find_replies(text, length, before, finds->reply, max_replies);
}

// Marks in `counted` the entries of `finds` that count in their line, text: a client
// entry only where it stands before `reply_end`, the line's first reply.
void count_messages(const search_index* index, const char* text, const piece_finds* finds,
                    size_t reply_end, entry_set* counted) {
  size_t end = reply_end < finds->searched ? reply_end : finds->searched;
  for (size_t e = 0; e < index->count; ++e)
    if (is_found(&finds->found, e) &&
        (index->counts_in_reply[e] || text_holds(text, end, index->text[e], index->length[e])))
      mark_found(counted, e);
}

// Hands on the messages of `counted` in entry order, but those inside another counted.
void hand_messages(const search_index* index, const entry_set* counted, found_sign sign, sign_sink sink,
                   void* context) {
  sign.kind = sign_message;
  for (size_t e = 0; e < index->count; ++e) {
    bool covered = false;
    for (size_t w = 0; w < found_words; ++w)
      covered |= (index->covered_by[e].word[w] & counted->word[w]) != 0;
    if (!is_found(counted, e) || covered) continue;
    sign.text = index->text[e];
    sign.length = index->length[e];
    sign.encoding = index->encoding[e];
    sink(&sign, context);
  }
}

// The line around text[at] within text[0, length), without its line feed.
void line_around(const char* text, size_t length, size_t at, found_sign* sign) {
  size_t from = at;
  while (from > 0 && text[from - 1] != '\n') --from;
  const void* feed = memchr(text + at, '\n', length - at);
  sign->line = text + from;
  sign->line_length = (feed ? static_cast<size_t>(static_cast<const char*>(feed) - text) : length) - from;
}

// Hands on the reply line at text[start]: its text runs to the first line feed, which
// must come before the text's end and any zero byte.
void hand_reply(const char* text, size_t length, size_t start, sign_sink sink, void* context) {
  found_sign sign = {};
  sign.kind = sign_reply;
  line_around(text, length, start, &sign);
  size_t end = static_cast<size_t>(sign.line - text) + sign.line_length;  // its line feed, if any
  if (end < length && memchr(text + start, '\0', end - start) == nullptr) {
    sign.text = text + start;
    sign.length = end - start;
  }
  sink(&sign, context);
}

// Hands on the signs of text[0, length), a single line; also right for several lines
// that hold reply lines alone.
void hand_line(const search_index* index, const char* text, size_t length, const piece_finds* finds,
               sign_sink sink, void* context) {
  if (found_any(&finds->found)) {
    entry_set counted = {};
    count_messages(index, text, finds, finds->reply_count > 0 ? finds->reply[0] : length, &counted);
    found_sign sign = {};
    line_around(text, length, 0, &sign);
    hand_messages(index, &counted, sign, sink, context);
  }
  for (size_t r = 0; r < finds->reply_count; ++r) hand_reply(text, length, finds->reply[r], sink, context);
}

// Adds to a held reply's text what bytes[0, available) holds of it.
void keep_reply_text(long_line::held_reply* reply, const char* bytes, size_t available) {
  for (size_t i = 0; i < available && reply->open; ++i) {
    if (bytes[i] == '\n' || bytes[i] == '\0') reply->open = false;
    else reply->text[reply->length++] = bytes[i];
    if (reply->length == held_reply_size) reply->open = false;
  }
}

}  // namespace

void find_signs(const char* text, size_t length, char before, sign_sink sink, void* context) {
  const search_index* index = current_index();
  // One search of the whole text; nearly always it finds no known message, and its
  // reply lines, if any, are then its signs in line order.
  static piece_finds finds;
  search_piece(index, text, length, before, &finds);
  const char* feed = static_cast<const char*>(memchr(text, '\n', length));
  if (feed == nullptr || feed == text + length - 1 || (!found_any(&finds.found) && finds.searched == length))
    return hand_line(index, text, length, &finds, sink, context);
  // Several lines, with a known message or a zero byte among them: each line is
  // searched by itself, so that the signs follow the lines and a line's zero byte
  // hides nothing in the next.
  for (size_t start = 0; start < length;) {
    const char* end = static_cast<const char*>(memchr(text + start, '\n', length - start));
    size_t size = end == nullptr ? length - start : static_cast<size_t>(end - text) + 1 - start;
    search_piece(index, text + start, size, start == 0 ? before : '\n', &finds);
    hand_line(index, text + start, size, &finds, sink, context);
    start += size;
  }
}

void search_part(long_line* line, const char* text, size_t length, size_t carry, char before, bool last) {
  const search_index* index = current_index();
  if (!line->active) {
    line->active = true;
    line->start = line->decided = line->reply_count = 0;
    line->first_reply = line->first_zero = line->last_zero = SIZE_MAX;
    line->found = {};
  }
  size_t start = line->start -= carry;
  line->start += length;  // where the next part's fresh bytes start
  size_t text_end = length > 0 && text[length - 1] == '\n' ? length - 1 : length;
  for (size_t i = carry; i < text_end; ++i) {
    if (text[i] != '\0') continue;
    if (line->first_zero == SIZE_MAX) line->first_zero = start + i;
    line->last_zero = start + i;
  }
  for (size_t r = 0; r < line->reply_count && r < max_held_replies; ++r)
    if (line->replies[r].open) keep_reply_text(&line->replies[r], text + carry, length - carry);
  static piece_finds finds;
  search_piece(index, text, length, before, &finds);
  // The messages before a zero byte and, for a client entry, before the line's first
  // reply, whether that stands in this part or an earlier one.
  if (line->first_zero >= start) {
    size_t reply_end = finds.reply_count > 0 ? finds.reply[0] : length;
    size_t earlier = line->first_reply < start ? 0 : line->first_reply - start;
    count_messages(index, text, &finds, earlier < reply_end ? earlier : reply_end, &line->found);
  }
  for (size_t r = 0; r < finds.reply_count; ++r) {
    size_t at = start + finds.reply[r];
    // Near a part's end the bytes that decide a reply may not have come yet: the next
    // part, which opens with them, decides it.
    if (at < line->decided || (!last && finds.reply[r] + reply_lookahead > length)) continue;
    if (line->first_reply == SIZE_MAX) line->first_reply = at;
    if (line->reply_count < max_held_replies) {
      auto& reply = line->replies[line->reply_count];
      reply.at = at;
      reply.length = 0;
      reply.open = true;
      keep_reply_text(&reply, text + finds.reply[r], length - finds.reply[r]);
    }
    ++line->reply_count;
  }
  if (!last) line->decided = start + length - reply_lookahead + 1;
}

void end_long_line(long_line* line, bool fed, sign_sink sink, void* context) {
  found_sign sign = {};
  hand_messages(current_index(), &line->found, sign, sink, context);
  sign.kind = sign_reply;
  for (size_t r = 0; r < line->reply_count; ++r) {
    const auto* reply = &line->replies[r < max_held_replies ? r : 0];
    bool shown = r < max_held_replies && fed && (line->last_zero == SIZE_MAX || line->last_zero < reply->at);
    sign.text = shown ? reply->text : nullptr;
    sign.length = shown ? reply->length : 0;
    sink(&sign, context);
  }
  line->active = false;
}
