// libFuzzer target: one stream of client output, cut into reads as the input says,
// through the relay's line cutting and the scanner. Beyond crashes and undefined
// behaviour it checks the reports against a plain per-line model of the failure signs.
//
// Input: byte 0 gives the number n (0 to 16) of read sizes that follow, one byte each;
// the rest is the stream, handed over in reads of those sizes in turn (4096 when n is
// 0). A size byte b below 192 means 1 + b % 64 bytes, otherwise 64 * (b - 191), so
// both tiny and full reads are easy to reach.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "platform/platform.h"
#include "scan/scan.h"

namespace {

const std::string report_banner = "*************** Error Found ***************\n";
const std::string text_prefix = "Error text: ";
// A text line holds at most line_buffer_size - 1 bytes; with its line feed it fits
// only when the text has at most this many bytes.
const size_t longest_whole_text = line_buffer_size - 1 - 12 - 1;
const size_t cut_text = line_buffer_size - 1 - 12;

int capture = -1;

void fail(const char* what) {
  fprintf(stderr, "scan_fuzzer: %s\n", what);
  abort();
}

std::vector<std::string> all_patterns() {
  std::vector<std::string> patterns(error_signatures, error_signatures + signature_count);
  for (size_t i = 0; i < client_signature_count; ++i) patterns.push_back(client_signatures[i]);
  return patterns;
}

// What a report's text line says: the text, and whether it was cut to the buffer.
struct report_text {
  std::string text;
  bool cut;
  bool operator<(const report_text& other) const {
    return cut != other.cut ? cut < other.cut : text < other.text;
  }
};

report_text as_reported(const std::string& text) {
  if (text.size() <= longest_whole_text) return {text, false};
  return {text.substr(0, cut_text), true};
}

// The failure signs of a stream, found line by line without any cutting.
struct stream_model {
  std::set<std::string> patterns_found;
  std::map<report_text, size_t> reply_texts;  // reply lines that end in a line feed
  size_t reply_lines = 0;                     // all of them, finished or not
  size_t unfinished_reply_lines = 0;          // those of a last line without line feed
  bool plain = true;  // no zero byte, and every line fits a piece with its line feed
};

bool is_reply_at(const std::string& line, size_t p) {
  return p + 4 <= line.size() && line[p] >= '4' && line[p] <= '9' && line[p + 1] >= '0' &&
         line[p + 1] <= '9' && line[p + 2] >= '0' && line[p + 2] <= '9' && line[p + 3] == ' ';
}

stream_model model_stream(const std::string& stream, const std::vector<std::string>& patterns) {
  stream_model m;
  if (stream.find('\0') != std::string::npos) m.plain = false;
  size_t start = 0;
  while (start < stream.size()) {
    size_t feed = stream.find('\n', start);
    bool finished = feed != std::string::npos;
    std::string line = stream.substr(start, finished ? feed - start : std::string::npos);
    if ((finished ? line.size() + 1 : line.size()) > piece_size) m.plain = false;
    for (const std::string& p : patterns)
      if (line.find(p) != std::string::npos) m.patterns_found.insert(p);
    for (size_t p = 0; p < line.size(); ++p) {
      if ((p != 0 && line[p - 1] != '\r') || !is_reply_at(line, p)) continue;
      ++m.reply_lines;
      std::string text = line.substr(p);
      if (!finished) ++m.unfinished_reply_lines;
      else if (text.find('\0') == std::string::npos) ++m.reply_texts[as_reported(text)];
    }
    start = finished ? feed + 1 : stream.size();
  }
  return m;
}

// The reports as written: each a banner, then a text line unless the sign had none.
struct parsed_reports {
  std::vector<report_text> texts;
  size_t banners_alone = 0;
};

parsed_reports parse_reports(const std::string& out) {
  parsed_reports r;
  size_t at = 0;
  while (at < out.size()) {
    if (out.compare(at, report_banner.size(), report_banner) != 0) fail("report does not open with its banner");
    at += report_banner.size();
    if (out.compare(at, text_prefix.size(), text_prefix) != 0) {
      ++r.banners_alone;
      continue;
    }
    size_t feed = out.find('\n', at);
    size_t line_length = (feed == std::string::npos ? out.size() : feed) - at;
    if (line_length <= line_buffer_size - 2) {
      if (feed == std::string::npos) fail("short text line without its line feed");
      r.texts.push_back({out.substr(at + text_prefix.size(), feed - at - text_prefix.size()), false});
      at = feed + 1;
      continue;
    }
    // Longer than the buffer: cut to line_buffer_size - 1 bytes, with no line feed.
    if (out.size() - at < line_buffer_size - 1) fail("text line cut short of the buffer");
    r.texts.push_back({out.substr(at + text_prefix.size(), cut_text), true});
    at += line_buffer_size - 1;
    if (at < out.size() && out.compare(at, report_banner.size(), report_banner) != 0)
      fail("report line longer than the line buffer");
  }
  return r;
}

std::string read_capture() {
  off_t size = lseek(capture, 0, SEEK_END);
  std::string out(static_cast<size_t>(size), '\0');
  if (size > 0 && pread(capture, &out[0], out.size(), 0) != size) fail("cannot read the reports back");
  return out;
}

size_t read_size(uint8_t b) { return b < 192 ? 1u + b % 64u : 64u * (b - 191u); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<std::string> patterns = all_patterns();
  if (size == 0) return 0;
  if (capture < 0) {
    capture = memfd_create("reports", 0);
    if (capture < 0) fail("memfd_create");
    saved_stdout = capture;
  }
  if (ftruncate(capture, 0) != 0 || lseek(capture, 0, SEEK_SET) != 0) fail("cannot reset the capture");

  size_t n = data[0] % 17u;
  if (size < 1 + n) return 0;
  std::vector<size_t> sizes;
  for (size_t i = 0; i < n; ++i) sizes.push_back(read_size(data[1 + i]));
  if (sizes.empty()) sizes.push_back(chunk_size);
  std::string stream(reinterpret_cast<const char*>(data) + 1 + n, size - 1 - n);

  exit_status = 0;
  line_cutter cutter;
  start_lines(&cutter);
  size_t at = 0;
  for (size_t r = 0; at < stream.size(); ++r) {
    size_t length = sizes[r % sizes.size()];
    if (length > stream.size() - at) length = stream.size() - at;
    // Each read in a block of its own size, so a look past its end is caught.
    char* read = static_cast<char*>(malloc(length));
    memcpy(read, stream.data() + at, length);
    scan_lines(&cutter, read, length);
    if (memcmp(read, stream.data() + at, length) != 0) fail("the scan changed a read");
    free(read);
    at += length;
  }
  finish_lines(&cutter);

  std::string out = read_capture();
  parsed_reports got = parse_reports(out);
  stream_model m = model_stream(stream, patterns);
  bool any_sign = !m.patterns_found.empty() || m.reply_lines > 0;

  if ((exit_status == 0) != out.empty()) fail("status and reports disagree");
  if (exit_status != 0 && exit_status != 2 && exit_status != 3) fail("status out of range");
  if (!any_sign && exit_status != 0) fail("a status for a stream without signs");
  if (got.banners_alone > m.reply_lines) fail("more reports without text than reply lines");
  std::map<report_text, size_t> counts;
  for (const report_text& t : got.texts) {
    ++counts[t];
    bool is_pattern = !t.cut && m.patterns_found.count(t.text) != 0;
    if (!is_pattern && m.reply_texts.count(t) == 0) fail("a report for a sign the stream does not hold");
  }
  if (!m.plain) return 0;

  // Plain streams: the cut must not matter for what is found.
  if (any_sign && exit_status == 0) fail("a failure sign ended with status 0");
  if (m.reply_lines == 0 && exit_status == 3) fail("status 3 without a reply line");
  if (m.patterns_found.empty() && exit_status == 2) fail("status 2 without a known message");
  if (got.banners_alone != m.unfinished_reply_lines) fail("reply lines without text miscounted");
  std::map<report_text, size_t> wanted = m.reply_texts;
  for (const std::string& p : patterns)
    if (m.patterns_found.count(p) != 0) ++wanted[{p, false}];
  for (const auto& w : wanted)
    if (counts[w.first] < w.second) fail("a sign of the stream went unreported");
  return 0;
}
