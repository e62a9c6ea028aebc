// Cuts one stream's reads into whole lines for the search.
#include "lines.h"

#include <string.h>

namespace {

// One call of scan_lines or finish_lines: where its signs go, and the read it cuts.
struct cut {
  line_cutter* cutter;
  sign_sink sink;
  void* context;
  const char* read;  // nullptr at the stream's end
  // Where the line being searched ends in the read, through its line feed; 0 when it
  // is searched in the read itself, whose lines then each give their own.
  size_t held_read_end;
  // The line test's verdict on the line at tested_line.
  const char* tested_line;
  bool tested;
  // The piece being searched whole, for its signs' line numbers.
  const char* piece;
  // The part of a long line being searched: held[0, part_end), and whether it ends
  // the line.
  size_t part_end;
  bool part_last;
};

void reset_line(long_line* line) {
  line->active = false;
  line->start = line->decided = 0;
  line->first_reply = line->first_zero = line->last_zero = SIZE_MAX;
  line->flagged = false;
  memset(line->found, 0, sizeof line->found);
  line->reply_count = 0;
}

// The line feeds in [from, to).
size_t line_feeds(const char* from, const char* to) {
  size_t count = 0;
  for (const char* feed = from; (feed = static_cast<const char*>(memchr(feed, '\n', to - feed))) != nullptr; ++feed)
    ++count;
  return count;
}

// Passes on a sign of a line the search saw whole, with its line's verdict and end.
void pass_sign(const found_sign* sign, void* context) {
  cut* c = static_cast<cut*>(context);
  found_sign passed = *sign;
  if (c->cutter->test != nullptr && sign->line != c->tested_line) {
    c->tested_line = sign->line;
    c->tested = c->cutter->test(sign->line, sign->line_length);
  }
  passed.line_flagged = c->cutter->test != nullptr && c->tested;
  passed.read_end = c->held_read_end;
  if (c->read != nullptr && c->held_read_end == 0)
    passed.read_end = static_cast<size_t>(sign->line - c->read) + sign->line_length + 1;
  if (c->cutter->counting)
    passed.line_number = c->cutter->lines_done + 1 + line_feeds(c->piece, sign->line);
  c->sink(&passed, c->context);
}

void search_whole(cut* c, const char* text, size_t length, char before) {
  c->tested_line = nullptr;
  c->piece = text;
  find_signs(text, length, before, pass_sign, c);
  if (c->cutter->counting) c->cutter->lines_done += line_feeds(text, text + length);
}

// Adds to a held reply's text what bytes[0, available) holds of it.
void keep_reply_text(held_reply* reply, const char* bytes, size_t available) {
  size_t room = held_reply_size - reply->length;
  size_t take = available < room ? available : room;
  for (size_t i = 0; i < take; ++i) {
    if (bytes[i] == '\n' || bytes[i] == '\0') {
      reply->open = false;
      return;
    }
    reply->text[reply->length++] = bytes[i];
  }
  if (reply->length == held_reply_size) reply->open = false;
}

// A sign the search found in a part of a long line: kept until the line ends, unless
// an earlier part decided it already or this part cannot.
void keep_part_sign(const found_sign* sign, void* context) {
  cut* c = static_cast<cut*>(context);
  long_line& line = c->cutter->line;
  if (sign->kind == sign_message) {
    // A zero byte before this part ended the text messages may lie in, and a reply
    // before it the text where client entries count; in this part the search knows.
    if (line.first_zero < line.start) return;
    // A reply at the part's very start comes before every message in it.
    if (!sign->counts_in_reply && line.first_reply <= line.start) return;
    line.found[sign->entry / 64] |= uint64_t{1} << (sign->entry % 64);
    return;
  }
  size_t at = line.start + sign->at;
  // Near the part's end the bytes that decide a reply may not have come yet: the
  // next part, which opens with them, decides it.
  if (at < line.decided || (!c->part_last && sign->at + reply_lookahead > c->part_end)) return;
  if (line.first_reply == SIZE_MAX) line.first_reply = at;
  if (line.reply_count < max_held_replies) {
    held_reply& reply = line.replies[line.reply_count];
    reply.at = at;
    reply.length = 0;
    reply.open = true;
    keep_reply_text(&reply, c->cutter->held + sign->at, c->part_end - sign->at);
  }
  ++line.reply_count;
}

// Searches held[0, end) as a part of a line longer than a piece; `last` when it ends
// the line.
void search_part(cut* c, size_t end, bool last) {
  line_cutter* cutter = c->cutter;
  long_line& line = cutter->line;
  if (!line.active) {
    reset_line(&line);
    line.active = true;
    cutter->carry = 0;
  }
  size_t fresh = cutter->carry;  // the part's bytes no part before it had
  size_t text_end = end > 0 && cutter->held[end - 1] == '\n' ? end - 1 : end;
  for (size_t i = fresh; i < text_end; ++i) {
    if (cutter->held[i] != '\0') continue;
    if (line.first_zero == SIZE_MAX) line.first_zero = line.start + i;
    line.last_zero = line.start + i;
  }
  for (size_t r = 0; r < line.reply_count && r < max_held_replies; ++r)
    if (line.replies[r].open) keep_reply_text(&line.replies[r], cutter->held + fresh, end - fresh);
  if (cutter->test != nullptr && !line.flagged) line.flagged = cutter->test(cutter->held, text_end);
  c->part_end = end;
  c->part_last = last;
  find_signs(cutter->held, end, cutter->before, keep_part_sign, c);
}

// The carry: the bytes of a full part that open the next one.
size_t carry_size(const line_cutter* cutter) {
  size_t carry = reply_lookahead + 5;  // a reply's opening and the prompt before it
  if (longest_search_entry() > carry + 1) carry = longest_search_entry() - 1;
  if (cutter->test != nullptr && cutter->test_reach > carry + 1) carry = cutter->test_reach - 1;
  return carry;
}

// Moves on from a full part of a long line to the next, which opens with its carry.
void next_part(line_cutter* cutter) {
  long_line& line = cutter->line;
  size_t from = piece_size - carry_size(cutter);
  // A prompt the cut would split, or that ends where the cut falls, goes whole to the
  // next part, so that a reply right after it is seen there.
  for (size_t p = from - 5; p < from; ++p) {
    if (memcmp(cutter->held + p, "ftp> ", 5) == 0) {
      from = p;
      break;
    }
  }
  line.decided = line.start + piece_size - reply_lookahead + 1;
  line.start += from;
  cutter->before = cutter->held[from - 1];
  cutter->carry = piece_size - from;
  memmove(cutter->held, cutter->held + from, cutter->carry);
  cutter->held_length = cutter->carry;
}

// Hands on the signs of a long line that has ended: its messages in table order, then
// its replies, each with its text when the line ended in a line feed that no zero byte
// came before.
void hand_long_line(cut* c, bool ended_by_feed) {
  long_line& line = c->cutter->line;
  found_sign sign = {};
  sign.line_flagged = line.flagged;
  sign.read_end = c->held_read_end;
  if (c->cutter->counting) sign.line_number = c->cutter->lines_done + 1;
  sign.kind = sign_message;
  for (size_t e = 0; e < search_entry_count(); ++e) {
    if ((line.found[e / 64] >> (e % 64) & 1) == 0 || search_entry_covered(e, line.found)) continue;
    search_entry entry = search_entry_at(e);
    sign.text = entry.text;
    sign.length = entry.length;
    sign.entry = e;
    sign.counts_in_reply = entry.counts_in_reply;
    c->sink(&sign, c->context);
  }
  sign.kind = sign_reply;
  sign.entry = 0;
  sign.counts_in_reply = false;
  for (size_t r = 0; r < line.reply_count; ++r) {
    sign.text = nullptr;
    sign.length = 0;
    if (r < max_held_replies) {
      const held_reply& reply = line.replies[r];
      sign.at = reply.at;
      bool hidden = line.last_zero != SIZE_MAX && line.last_zero >= reply.at;
      if (ended_by_feed && !hidden) {
        sign.text = reply.text;
        sign.length = reply.length;
      }
    }
    c->sink(&sign, c->context);
  }
  reset_line(&line);
  c->cutter->carry = 0;
}

// Searches the held line, which has ended (at its line feed, or at the stream's end).
void end_held_line(cut* c) {
  line_cutter* cutter = c->cutter;
  size_t end = cutter->held_length;
  bool fed = end > 0 && cutter->held[end - 1] == '\n';
  if (cutter->line.active) {
    search_part(c, end, true);
    hand_long_line(c, fed);
    cutter->lines_done += fed ? 1 : 0;
  } else {
    search_whole(c, cutter->held, end, cutter->before);
  }
  cutter->before = cutter->held[end - 1];
  cutter->held_length = 0;
}

// bytes[0, length) up to and including its last line feed, when its first is at `feed`.
size_t through_last(const char* bytes, size_t length, const char* feed) {
  while (bytes + length - 1 > feed && bytes[length - 1] != '\n') --length;
  return length;
}

}  // namespace

size_t through_last_feed(const char* bytes, size_t length) {
  const char* feed = static_cast<const char*>(memchr(bytes, '\n', length));
  return feed != nullptr ? through_last(bytes, length, feed) : 0;
}

void start_lines(line_cutter* cutter) {
  cutter->held_length = 0;
  cutter->before = '\n';  // the start of a stream counts as the end of a line
  cutter->test = nullptr;
  cutter->test_reach = 0;
  cutter->carry = 0;
  cutter->counting = false;
  cutter->lines_done = 0;
  reset_line(&cutter->line);
}

void count_lines(line_cutter* cutter) { cutter->counting = true; }

void test_lines(line_cutter* cutter, line_test test, size_t reach) {
  cutter->test = test;
  cutter->test_reach = reach;
}

void scan_lines(line_cutter* cutter, const char* bytes, size_t length, sign_sink sink,
                void* context) {
  cut c = {cutter, sink, context, bytes, 0, nullptr, false, nullptr, 0, false};
  const char* read = bytes;
  while (length > 0) {
    const char* feed = static_cast<const char*>(memchr(bytes, '\n', length));
    // Whole lines straight from the read, as many as a piece holds.
    size_t span = length < piece_size ? length : size_t{piece_size};
    size_t whole = cutter->held_length == 0 && feed != nullptr && feed < bytes + span
                       ? through_last(bytes, span, feed)
                       : 0;
    if (whole > 0) {
      c.held_read_end = 0;
      search_whole(&c, bytes, whole, cutter->before);
      cutter->before = bytes[whole - 1];
      bytes += whole;
      length -= whole;
      continue;
    }
    // Finish, or add to, the held line.
    size_t wanted = feed ? static_cast<size_t>(feed - bytes) + 1 : length;
    size_t room = piece_size - cutter->held_length;
    size_t taken = wanted < room ? wanted : room;
    memcpy(cutter->held + cutter->held_length, bytes, taken);
    cutter->held_length += taken;
    bytes += taken;
    length -= taken;
    if (feed != nullptr && taken == wanted) {
      c.held_read_end = static_cast<size_t>(bytes - read);
      end_held_line(&c);
    } else if (cutter->held_length == piece_size) {
      search_part(&c, piece_size, false);
      next_part(cutter);
    }
  }
}

void finish_lines(line_cutter* cutter, sign_sink sink, void* context) {
  cut c = {cutter, sink, context, nullptr, 0, nullptr, false, nullptr, 0, false};
  if (cutter->held_length > 0 || cutter->line.active) end_held_line(&c);
}
