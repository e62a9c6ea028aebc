// Cuts one stream's reads into whole lines for the search.
#include "lines.h"

#include <string.h>

namespace {

void scan_held(line_cutter* cutter, sign_sink sink, void* context) {
  find_signs(cutter->held, cutter->held_length, cutter->before, sink, context);
  cutter->before = cutter->held[cutter->held_length - 1];
  cutter->held_length = 0;
}

}  // namespace

void start_lines(line_cutter* cutter) {
  cutter->held_length = 0;
  cutter->before = '\n';  // the start of a stream counts as the end of a line
}

void scan_lines(line_cutter* cutter, const char* bytes, size_t length, sign_sink sink,
                void* context) {
  while (length > 0) {
    const char* feed = static_cast<const char*>(memchr(bytes, '\n', length));
    if (cutter->held_length == 0 && feed != nullptr) {
      // Whole lines straight from the read: every line up to its last line feed.
      const char* last = feed;
      for (const char* p = bytes + length - 1; p > feed; --p) {
        if (*p == '\n') {
          last = p;
          break;
        }
      }
      size_t whole = static_cast<size_t>(last - bytes) + 1;
      if (whole > piece_size) whole = piece_size;  // a read never exceeds a piece
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
