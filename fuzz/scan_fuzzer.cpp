// libFuzzer target: one stream of client output, cut into reads as the input says,
// through the relay's line cutting and the scanner. Beyond crashes and undefined
// behaviour it checks the reports, byte for byte, and the status against the plain
// per-line model, and that a second cut of the same stream gives the very same.
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

#include <string>
#include <vector>

#include "handles.h"
#include "platform/platform.h"
#include "relay.h"
#include "report.h"
#include "scan/lines.h"
#include "scan/search.h"
#include "scan_model.h"

namespace {

int capture = -1;        // saved_stdout: reports, and the echo of stdout
int capture_error = -1;  // saved_stderr: the echo of stderr

void fail(const char* what) {
  fprintf(stderr, "scan_fuzzer: %s\n", what);
  abort();
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

// The pieces of an unfinished line that a cutter has handed on: all but the one it
// still holds.
size_t handed_on(const std::vector<std::string>& pieces) {
  if (pieces.empty()) return 0;
  return pieces.back().size() == piece_size ? pieces.size() : pieces.size() - 1;
}

// The reports the relay writes after the echo of a read's unfinished last line
// `tail`: those of the pieces the tail completes, if it fills any. `shown` is the
// stream up to the tail.
std::string tail_reports(const std::string& shown, const std::string& tail) {
  size_t line_start = shown.rfind('\n') == std::string::npos ? 0 : shown.rfind('\n') + 1;
  std::string line = shown.substr(line_start) + tail;
  std::vector<std::string> pieces = model_pieces(line);
  size_t done = handed_on(model_pieces(shown.substr(line_start)));
  std::string reports;
  size_t at = line_start;
  int status = 0;
  for (size_t k = 0; k < handed_on(pieces); at += pieces[k++].size())
    if (k >= done) reports += model_scan(pieces[k], at == 0 ? '\n' : (shown + tail)[at - 1], &status);
  return reports;
}

// Hands one read of `stream`, which held `before` so far, to the relay and returns the
// reports it wrote. Checks that the read was echoed whole to its own stream's handle,
// and on stdout that the reports about the lines it finished came after those lines
// and before the rest of the read.
std::string relay_read(int stream, const std::string& before, const char* read, size_t length,
                       bool stderr_echo_works) {
  size_t out_before = captured(capture);
  size_t error_before = captured(capture_error);
  relay_chunk(stream, read, length);
  std::string out = read_capture(capture, out_before);
  std::string error = read_capture(capture_error, error_before);
  std::string echo(read == nullptr ? "" : std::string(read, length));
  if (stream == output_stream && !echo.empty()) {
    size_t lines = echo.rfind('\n') == std::string::npos ? 0 : echo.rfind('\n') + 1;
    std::string head = echo.substr(0, lines);
    std::string tail = echo.substr(lines) + tail_reports(before + head, echo.substr(lines));
    if (out.size() < head.size() + tail.size() || out.compare(0, head.size(), head) != 0 ||
        out.compare(out.size() - tail.size(), tail.size(), tail) != 0)
      fail("stdout read not echoed whole, around the reports of its lines");
    out = out.substr(head.size(), out.size() - head.size() - tail.size()) +
          tail.substr(echo.size() - lines);
  }
  std::string want_error = stream == error_stream && stderr_echo_works ? echo : "";
  if (error != want_error) fail("stderr echo differs from the read");
  return out;
}

size_t read_size(uint8_t b) { return b < 192 ? 1u + b % 64u : 64u * (b - 191u); }

// Scans `stream` through a fresh line cutter in reads of `sizes`, in turn, as the only
// stream of a run. Returns the reports; leaves the run's status in exit_status.
std::string scan_in_reads(const char* stream, size_t length, const std::vector<size_t>& sizes) {
  static line_cutter cutter;
  capture = fresh_capture(capture, "reports");
  saved_stdout = capture;
  exit_status = 0;
  start_lines(&cutter);
  for (size_t r = 0; length > 0; ++r) {
    size_t size = sizes[r % sizes.size()] < length ? sizes[r % sizes.size()] : length;
    // Each read in a block of its own size, so a look past its end is caught.
    char* read = static_cast<char*>(malloc(size));
    memcpy(read, stream, size);
    scan_lines(&cutter, read, size, report_found, nullptr);
    if (memcmp(read, stream, size) != 0) fail("the scan changed a read");
    free(read);
    stream += size;
    length -= size;
  }
  finish_lines(&cutter, report_found, nullptr);
  return read_capture(capture, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
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
  size_t length = size - 1 - n;

  if (!two_streams) {
    std::string reports = scan_in_reads(bytes, length, sizes);
    int status = exit_status;
    int model_status = 0;
    if (reports != model_stream(std::string(bytes, length), &model_status))
      fail("reports differ from the model's");
    if (status != model_status) fail("status differs from the model's");
    // Another cut of the same stream: whole reads where the first had small ones.
    std::vector<size_t> other = {sizes[0] == chunk_size ? size_t{1} : chunk_size};
    if (scan_in_reads(bytes, length, other) != reports || exit_status != status)
      fail("another cut of the stream reports otherwise");
    return 0;
  }

  capture = fresh_capture(capture, "reports");
  capture_error = fresh_capture(capture_error, "stderr");
  exit_status = 0;
  saved_stdout = capture;
  saved_stderr = stderr_echo_works ? capture_error : no_handle;
  reset_relay();
  std::string streams[2];
  std::string reports[2];  // what was reported while each stream's reads were handed over
  int first = -1;          // the stream whose read brought the run's first report
  for (size_t r = 0; length > 0; ++r) {
    size_t read_length = sizes[r % sizes.size()] < length ? sizes[r % sizes.size()] : length;
    int stream = static_cast<int>(r % 2);
    char* read = static_cast<char*>(malloc(read_length));
    memcpy(read, bytes, read_length);
    std::string out = relay_read(stream, streams[stream], read, read_length, stderr_echo_works);
    if (memcmp(read, bytes, read_length) != 0) fail("the scan changed a read");
    free(read);
    if (first < 0 && !out.empty()) first = stream;
    reports[stream] += out;
    streams[stream].append(bytes, read_length);
    bytes += read_length;
    length -= read_length;
  }
  for (int stream : {output_stream, error_stream}) {
    std::string out = relay_read(stream, streams[stream], nullptr, 0, stderr_echo_works);
    if (first < 0 && !out.empty()) first = stream;
    reports[stream] += out;
  }
  // Each stream is cut and reported by itself, in its own order; the first report of
  // the run decides the status.
  int model_status[2] = {0, 0};
  for (int stream : {output_stream, error_stream})
    if (reports[stream] != model_stream(streams[stream], &model_status[stream]))
      fail("a stream's reports differ from the model's");
  if (exit_status != (first < 0 ? 0 : model_status[first])) fail("status is not the first sign's");
  return 0;
}
