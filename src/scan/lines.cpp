// Cuts one stream's reads into whole lines, and long lines into parts, for the search.
#include "scan/lines.h"

#include <string.h>

namespace {

// One call of scan_lines or finish_lines: where its signs go, and the read it cuts.
struct cut {
  line_cutter* cutter;
  sign_sink sink;
  void* context;
  const char* read;  // nullptr at the stream's end
  size_t held_read_end;  // where the held line ends in the read; 0: the read's own lines
  const char* piece;  // the text searched whole, for its signs' line numbers
};

// The line feeds in [from, to).
size_t line_feeds(const char* from, const char* to) {
  size_t count = 0;
  while ((from = static_cast<const char*>(memchr(from, '\n', static_cast<size_t>(to - from)))) != nullptr)
    ++count, ++from;
  return count;
}

// Counts the lines that end in text[0, length), whose first byte starts a line, and
// hands on the statistics line each opens.
void walk_lines(line_cutter* cutter, const char* text, size_t length) {
  const char* end = text + length;
  for (const char* line = text; line < end;) {
    const char* feed = static_cast<const char*>(memchr(line, '\n', static_cast<size_t>(end - line)));
    if (cutter->transfers != nullptr)
      find_statistics(line, static_cast<size_t>((feed != nullptr ? feed : end) - line), cutter->transfers);
    if (feed == nullptr) break;
    ++cutter->lines_done;
    line = feed + 1;
  }
}

// Passes on a sign with its line's verdict, end and number: a line the search saw
// whole, or the held long line, which has ended.
void pass_sign(const found_sign* sign, void* context) {
  cut* c = static_cast<cut*>(context);
  line_cutter* cutter = c->cutter;
  found_sign passed = *sign;
  passed.read_end = c->held_read_end;
  if (sign->line == nullptr) {
    passed.line_flagged = cutter->flagged;
    if (cutter->counting) passed.line_number = cutter->lines_done + 1;
    return c->sink(&passed, c->context);
  }
  passed.line_flagged = cutter->test != nullptr && cutter->test(sign->line, sign->line_length);
  if (c->read != nullptr && c->held_read_end == 0)
    passed.read_end = static_cast<size_t>(sign->line - c->read) + sign->line_length + 1;
  if (cutter->counting) passed.line_number = cutter->lines_done + 1 + line_feeds(c->piece, sign->line);
  c->sink(&passed, c->context);
}

// Searches text[0, length), whole lines but perhaps the last.
void search_whole(cut* c, const char* text, size_t length) {
  line_cutter* cutter = c->cutter;
  c->piece = text;
  find_signs(text, length, cutter->before, pass_sign, c);
  if (cutter->counting) walk_lines(cutter, text, length);
  cutter->before = text[length - 1];
}

// Searches held[0, end) as a part of a line longer than a piece; `last` when it ends it.
void search_held_part(line_cutter* cutter, size_t end, bool last) {
  if (!cutter->line.active) cutter->carry = 0;
  if (!cutter->line.active) cutter->flagged = false;
  size_t text_end = end > 0 && cutter->held[end - 1] == '\n' ? end - 1 : end;
  if (cutter->test != nullptr && !cutter->flagged) cutter->flagged = cutter->test(cutter->held, text_end);
  // A statistics line stands within its line's first piece_size bytes.
  if (!cutter->line.active && cutter->transfers != nullptr) find_statistics(cutter->held, text_end, cutter->transfers);
  search_part(&cutter->line, cutter->held, end, cutter->carry, cutter->before, last);
}

// Searches the held line, which has ended (at its line feed, or at the stream's end).
void end_held_line(cut* c) {
  line_cutter* cutter = c->cutter;
  size_t end = cutter->held_length;
  cutter->held_length = 0;
  if (!cutter->line.active) return search_whole(c, cutter->held, end);
  char last = end > 0 ? cutter->held[end - 1] : cutter->before;  // a long line holds its carry
  search_held_part(cutter, end, true);
  end_long_line(&cutter->line, last == '\n', pass_sign, c);
  cutter->lines_done += last == '\n' ? 1 : 0;
  cutter->before = last;
}

}  // namespace

void start_lines(line_cutter* cutter) {
  *cutter = {};
  cutter->before = '\n';  // the start of a stream counts as the end of a line
}

void count_lines(line_cutter* cutter, transfer_sink transfers) {
  cutter->counting = true;
  cutter->transfers = transfers;
}

void test_lines(line_cutter* cutter, line_test test, size_t reach) {
  cutter->test = test;
  cutter->test_reach = reach;
}

void scan_lines(line_cutter* cutter, const char* bytes, size_t length, sign_sink sink, void* context) {
  cut c = {cutter, sink, context, bytes, 0, nullptr};
  while (length > 0) {
    const char* feed = static_cast<const char*>(memchr(bytes, '\n', length));
    // Whole lines straight from the read, as many as a piece holds.
    size_t whole = length < piece_size ? length : size_t{piece_size};
    if (cutter->held_length == 0 && feed != nullptr && feed < bytes + whole) {
      while (bytes[whole - 1] != '\n') --whole;
      c.held_read_end = 0;
      search_whole(&c, bytes, whole);
      bytes += whole;
      length -= whole;
      continue;
    }
    // Finish, or add to, the held line.
    size_t wanted = feed ? static_cast<size_t>(feed - bytes) + 1 : length;
    size_t taken = wanted < piece_size - cutter->held_length ? wanted : piece_size - cutter->held_length;
    memcpy(cutter->held + cutter->held_length, bytes, taken);
    cutter->held_length += taken;
    bytes += taken;
    length -= taken;
    if (feed != nullptr && taken == wanted) {
      c.held_read_end = static_cast<size_t>(bytes - c.read);
      end_held_line(&c);
    } else if (cutter->held_length == piece_size) {
      // On to the next part, which opens with the carry.
      search_held_part(cutter, piece_size, false);
      size_t carry = cutter->test_reach > part_overlap ? cutter->test_reach : size_t{part_overlap};
      cutter->before = cutter->held[piece_size - carry - 1];
      memmove(cutter->held, cutter->held + piece_size - carry, carry);
      cutter->held_length = cutter->carry = carry;
    }
  }
}

void finish_lines(line_cutter* cutter, sign_sink sink, void* context) {
  cut c = {cutter, sink, context, nullptr, 0, nullptr};
  if (cutter->held_length > 0 || cutter->line.active) end_held_line(&c);
}
