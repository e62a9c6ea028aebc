// libFuzzer target: one stream of client output, cut into reads as the input says,
// through the relay's line cutting and the scanner. Beyond crashes and undefined
// behaviour it checks the reports against a plain per-line model of the failure signs.
//
// Input: the low five bits of byte 0, modulo 17, give the number n of read sizes that
// follow, one byte each; the rest is the stream, handed over in reads of those sizes in
// turn (4096 when n is 0). A size byte b below 192 means 1 + b % 64 bytes, otherwise
// 64 * (b - 191), so both tiny and full reads are easy to reach.
// Bit 5 of byte 0 makes two streams of it, through the relay itself: even reads are the
// client's stdout, odd ones its stderr. Bit 6 then makes every echo to stderr fail.
// Bit 7 holds the scanner to its portable passes.
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
#include "relay.h"
#include "scan/scan.h"

namespace {

const std::string report_banner = "*************** Error Found ***************\n";
const std::string text_prefix = "Error text: ";
// A text line holds at most line_buffer_size - 1 bytes; with its line feed it fits
// only when the text has at most this many bytes.
const size_t longest_whole_text = line_buffer_size - 1 - 12 - 1;
const size_t cut_text = line_buffer_size - 1 - 12;

int capture = -1;        // saved_stdout: reports, and the echo of stdout
int capture_error = -1;  // saved_stderr: the echo of stderr

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

size_t captured(int fd) { return static_cast<size_t>(lseek(fd, 0, SEEK_END)); }

// The bytes written to `fd` from `from` on.
std::string read_capture(int fd, size_t from) {
  std::string out(captured(fd) - from, '\0');
  if (!out.empty() && pread(fd, &out[0], out.size(), static_cast<off_t>(from)) != static_cast<ssize_t>(out.size()))
    fail("cannot read the capture back");
  return out;
}

int fresh_capture(int fd, const char* name) {
  if (fd < 0) fd = memfd_create(name, 0);
  if (fd < 0) fail("memfd_create");
  if (ftruncate(fd, 0) != 0 || lseek(fd, 0, SEEK_SET) != 0) fail("cannot reset a capture");
  return fd;
}

// Hands one read to the relay and returns the reports it wrote; checks that the read
// was echoed, whole and first, to its own stream's handle.
std::string relay_read(int stream, const char* read, size_t length, bool stderr_echo_works) {
  size_t out_before = captured(capture);
  size_t error_before = captured(capture_error);
  relay_chunk(stream, read, length);
  std::string out = read_capture(capture, out_before);
  std::string error = read_capture(capture_error, error_before);
  std::string echo(read == nullptr ? "" : std::string(read, length));
  if (stream == output_stream) {
    if (out.compare(0, echo.size(), echo) != 0) fail("stdout read not echoed first and whole");
    out.erase(0, echo.size());
  }
  std::string want_error = stream == error_stream && stderr_echo_works ? echo : "";
  if (error != want_error) fail("stderr echo differs from the read");
  return out;
}

size_t read_size(uint8_t b) { return b < 192 ? 1u + b % 64u : 64u * (b - 191u); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::vector<std::string> patterns = all_patterns();
  if (size == 0) return 0;
  capture = fresh_capture(capture, "reports");
  capture_error = fresh_capture(capture_error, "stderr");

  size_t n = (data[0] & 0x1fu) % 17u;
  bool two_streams = (data[0] & 0x20u) != 0;
  bool stderr_echo_works = (data[0] & 0x40u) == 0;
  // The results must not depend on which passes the processor gets.
  limit_scan_passes((data[0] & 0x80u) != 0 ? 0 : 1);
  if (size < 1 + n) return 0;
  std::vector<size_t> sizes;
  for (size_t i = 0; i < n; ++i) sizes.push_back(read_size(data[1 + i]));
  if (sizes.empty()) sizes.push_back(chunk_size);
  const char* bytes = reinterpret_cast<const char*>(data) + 1 + n;
  size_t length_left = size - 1 - n;

  exit_status = 0;
  saved_stdout = capture;
  saved_stderr = stderr_echo_works ? capture_error : no_handle;
  reset_relay();
  line_cutter cutter;
  start_lines(&cutter);
  std::string streams[2];
  std::string reports;
  for (size_t r = 0; length_left > 0; ++r) {
    size_t length = sizes[r % sizes.size()];
    if (length > length_left) length = length_left;
    int stream = two_streams ? static_cast<int>(r % 2) : output_stream;
    // Each read in a block of its own size, so a look past its end is caught.
    char* read = static_cast<char*>(malloc(length));
    memcpy(read, bytes, length);
    if (two_streams) {
      reports += relay_read(stream, read, length, stderr_echo_works);
    } else {
      scan_lines(&cutter, read, length);
    }
    if (memcmp(read, bytes, length) != 0) fail("the scan changed a read");
    free(read);
    streams[stream].append(bytes, length);
    bytes += length;
    length_left -= length;
  }
  if (two_streams) {
    reports += relay_read(output_stream, nullptr, 0, stderr_echo_works);
    reports += relay_read(error_stream, nullptr, 0, stderr_echo_works);
  } else {
    finish_lines(&cutter);
    reports = read_capture(capture, 0);
  }

  parsed_reports got = parse_reports(reports);
  stream_model m = model_stream(streams[0], patterns);
  stream_model m2 = model_stream(streams[1], patterns);
  // Both streams' signs together: the reports and the status are the run's.
  m.patterns_found.insert(m2.patterns_found.begin(), m2.patterns_found.end());
  for (const auto& t : m2.reply_texts) m.reply_texts[t.first] += t.second;
  m.reply_lines += m2.reply_lines;
  m.unfinished_reply_lines += m2.unfinished_reply_lines;
  m.plain = m.plain && m2.plain;
  bool any_sign = !m.patterns_found.empty() || m.reply_lines > 0;

  if ((exit_status == 0) != reports.empty()) fail("status and reports disagree");
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
  // Each stream is cut by itself: an entry found in both is reported for each.
  for (const std::string& p : patterns) {
    size_t streams_with_it = two_streams ? (streams[0].find(p) != std::string::npos) +
                                               (streams[1].find(p) != std::string::npos)
                                         : 1;
    if (m.patterns_found.count(p) != 0) wanted[{p, false}] += streams_with_it;
  }
  for (const auto& w : wanted)
    if (counts[w.first] < w.second) fail("a sign of the stream went unreported");
  return 0;
}
