// Cuts one stream's reads into whole lines for the search.
#include "lines.h"

#include <string.h>

namespace {

// Where a full piece of a longer line ends: before a line break or a prompt, or the
// start of one, in its last bytes, which then open the next piece, so that a reply
// after it stands whole in one piece.
size_t piece_end(const char* held) {
  for (size_t p = piece_size - reply_opening; p < piece_size; ++p) {
    size_t room = piece_size - p < 5 ? piece_size - p : 5;
    if (held[p] == '\r' || memcmp(held + p, "ftp> ", room) == 0) return p;
  }
  return piece_size;
}

void scan_held(line_cutter* cutter, sign_sink sink, void* context) {
  size_t end = cutter->held_length;
  if (end == piece_size && cutter->held[end - 1] != '\n') end = piece_end(cutter->held);
  find_signs(cutter->held, end, cutter->before, sink, context);
  cutter->before = cutter->held[end - 1];
  cutter->held_length -= end;
  memmove(cutter->held, cutter->held + end, cutter->held_length);
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
}

void scan_lines(line_cutter* cutter, const char* bytes, size_t length, sign_sink sink,
                void* context) {
  while (length > 0) {
    const char* feed = static_cast<const char*>(memchr(bytes, '\n', length));
    // Whole lines straight from the read, as many as a piece holds.
    size_t span = length < piece_size ? length : size_t{piece_size};
    size_t whole = cutter->held_length == 0 && feed != nullptr && feed < bytes + span
                       ? through_last(bytes, span, feed)
                       : 0;
    if (whole > 0) {
      find_signs(bytes, whole, cutter->before, sink, context);
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
    bool line_done = feed != nullptr && taken == wanted;
    if (line_done || cutter->held_length == piece_size) scan_held(cutter, sink, context);
  }
}

void finish_lines(line_cutter* cutter, sign_sink sink, void* context) {
  if (cutter->held_length > 0) scan_held(cutter, sink, context);
}
