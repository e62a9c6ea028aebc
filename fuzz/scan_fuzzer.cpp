// libFuzzer target: one stream of client output, cut into reads as the input says,
// through the relay's line cutting and the scanner. Beyond crashes and undefined
// behaviour it checks the reports, byte for byte, the status and the transfer
// statistics against the plain model, which judges each line whole however long, and
// that a second cut of the same stream gives the very same.
//
// Input: the low five bits of byte 0, modulo 17, give the number n of read sizes that
// follow, one byte each; the rest is the stream, handed over in reads of those sizes in
// turn (4096 when n is 0). A size byte b below 192 means 1 + b % 64 bytes, otherwise
// 64 * (b - 191), so both tiny and full reads are easy to reach.
// Bit 5 of byte 0 makes two streams of it, through the relay itself: even reads are the
// client's stdout, odd ones its stderr; stdout must then be its echo with each line's
// reports right after the line. Bit 6 then makes every echo to stderr fail.
// Bit 7 adds the entries a run may add (overlapping_entries) to the tables.
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
#include "run/relay.h"
#include "scan/report.h"
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

// What the relay must write for one stream while it reads it: the model's reports of
// each line the stream ends, on stdout after that line's echo (for stdout) or at once
// (for stderr), each report on a line of its own. A report that comes while stdout's
// echo ends inside a line waits for that line's line feed (the fuzzer's clock never
// moves, so the line is always still arriving), as do the reports after it, unless 16
// KiB of them wait already. `pending` holds each stream's unfinished line; `length` 0
// ends the stream.
struct expected_run {
  std::string out;  // saved_stdout: the echo of stdout, and every report
  size_t checked = 0;  // how much of it the capture has been held to
  std::string pending[2];
  bool holding = false;
  std::string held;
  int status = 0;
};

bool inside_line(const expected_run* run) { return !run->out.empty() && run->out.back() != '\n'; }

void write_held(expected_run* run) {
  if (!run->holding) return;
  if (inside_line(run)) run->out += '\n';
  run->out += run->held;
  run->held.clear();
  run->holding = false;
}

void add_reports(expected_run* run, const std::string& reports) {
  const std::string banner = "*************** Error Found ***************\n";
  for (size_t at = 0; at < reports.size();) {
    size_t next = reports.find(banner, at + banner.size());
    if (next == std::string::npos) next = reports.size();
    std::string report = reports.substr(at, next - at);
    if ((run->holding || inside_line(run)) && run->held.size() + 2 * 1024 <= 16384) {
      run->holding = true;
      run->held += report;
    } else {
      write_held(run);
      if (inside_line(run)) run->out += '\n';
      run->out += report;
    }
    at = next;
  }
}

void expect_read(expected_run* run, int stream, const char* read, size_t length) {
  std::string& pending = run->pending[stream];
  if (length == 0) {
    if (!pending.empty()) add_reports(run, model_stream(pending, &run->status));
    pending.clear();
    return;
  }
  for (size_t at = 0; at < length;) {
    const char* feed = static_cast<const char*>(memchr(read + at, '\n', length - at));
    size_t end = feed == nullptr ? length : static_cast<size_t>(feed - read) + 1;
    if (stream == output_stream) run->out.append(read + at, end - at);
    if (stream == output_stream && feed != nullptr) write_held(run);
    pending.append(read + at, end - at);
    if (feed != nullptr) {
      add_reports(run, model_stream(pending, &run->status));
      pending.clear();
    }
    at = end;
  }
}

// Hands one read of `stream` to the relay, and checks that stdout, echo and reports,
// is now what the model says, and stderr the bytes of its stream.
void relay_read(expected_run* run, int stream, const char* read, size_t length, bool stderr_echo_works) {
  size_t error_before = captured(capture_error);
  relay_chunk(stream, read, length);
  expect_read(run, stream, read, length);
  if (captured(capture) != run->out.size() ||
      read_capture(capture, run->checked) != run->out.substr(run->checked))
    fail("stdout is not the echo with each line's reports after it");
  run->checked = run->out.size();
  std::string echo(read == nullptr ? "" : std::string(read, length));
  std::string want_error = stream == error_stream && stderr_echo_works ? echo : "";
  if (read_capture(capture_error, error_before) != want_error) fail("stderr echo differs from the read");
  if (exit_status != run->status) fail("status is not the first sign's");
}

size_t read_size(uint8_t b) { return b < 192 ? 1u + b % 64u : 64u * (b - 191u); }

std::vector<std::string> transfers;  // the cutter's, as the model writes them
void keep_transfer(bool sent, unsigned long long bytes) {
  transfers.push_back((sent ? "sent " : "received ") + std::to_string(bytes));
}

// Scans `stream` through a fresh line cutter in reads of `sizes`, in turn, as the only
// stream of a run. Returns the reports; leaves the run's status in exit_status.
std::string scan_in_reads(const char* stream, size_t length, const std::vector<size_t>& sizes) {
  static line_cutter cutter;
  capture = fresh_capture(capture, "reports");
  saved_stdout = capture;
  exit_status = 0;
  note_stdout("\n", 1);  // a fresh stdout, at a line's start
  start_lines(&cutter);
  count_lines(&cutter, keep_transfer);
  transfers.clear();
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
  if (size < 1 + n) return 0;
  // The entries of the run, in the search and in the model; built again only when they change.
  static int added = -1;
  if (added != ((data[0] & 0x80u) != 0)) {
    added = (data[0] & 0x80u) != 0;
    std::vector<search_entry> extra = added ? overlapping_entries() : std::vector<search_entry>{};
    if (!build_search_index(extra.data(), extra.size())) fail("the run's entries do not fit");
    model_entries(extra);
  }
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
    if (transfers != model_transfers(std::string(bytes, length)))
      fail("transfer statistics differ from the model's");
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
  static bool clock_set = false;
  if (!clock_set) set_report_clock([]() -> int64_t { return 0; });
  clock_set = true;
  reset_relay();
  expected_run run;
  for (size_t r = 0; length > 0; ++r) {
    size_t read_length = sizes[r % sizes.size()] < length ? sizes[r % sizes.size()] : length;
    int stream = static_cast<int>(r % 2);
    char* read = static_cast<char*>(malloc(read_length));
    memcpy(read, bytes, read_length);
    relay_read(&run, stream, read, read_length, stderr_echo_works);
    if (memcmp(read, bytes, read_length) != 0) fail("the scan changed a read");
    free(read);
    bytes += read_length;
    length -= read_length;
  }
  for (int stream : {output_stream, error_stream}) relay_read(&run, stream, nullptr, 0, stderr_echo_works);
  // The client's end: what waited for a line is written.
  release_held_reports();
  write_held(&run);
  if (read_capture(capture, 0) != run.out) fail("stdout at the end is not the echo with every report");
  return 0;
}
