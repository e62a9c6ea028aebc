#include "scan/scan.h"

#include "platform/platform.h"
#include "record/record.h"
#include "scan/lines.h"
#include "scan/report.h"
#include "settings/settings.h"

namespace {

struct stream_scan {
  int number;  // output_stream or error_stream
  line_cutter lines;
  chunk_shown show;
};
// Zeroed, not initialised, so that the held lines take no room in the program file.
stream_scan streams[2];

// A sign_sink for a chunk's lines: the chunk is shown through the sign's line, then the
// sign is reported.
void report_after_line(const found_sign* sign, void* stream) {
  stream_scan* s = static_cast<stream_scan*>(stream);
  if (s->show != nullptr && sign->read_end > 0) s->show(s->number, sign->read_end);
  report_found(sign, &s->number);
}

}  // namespace

void start_scan() {
  for (int number = output_stream; number <= error_stream; ++number) {
    stream_scan& s = streams[number];
    s.number = number;
    start_lines(&s.lines);
    if (keeping_record()) count_lines(&s.lines, record_transfer);
    if (size_t reach = longest_ignored_text()) test_lines(&s.lines, sign_ignored, reach);
  }
}

void scan_chunk(int stream, const char* bytes, size_t length, chunk_shown show) {
  stream_scan& s = streams[stream];
  s.show = show;
  scan_lines(&s.lines, bytes, length, report_after_line, &s);
  s.show = nullptr;
}

void finish_scan(int stream) {
  stream_scan& s = streams[stream];
  finish_lines(&s.lines, report_after_line, &s);
}
