// Error reports and the run's status.
#include "scan/report.h"

#include <string.h>

#include "handles.h"
#include "platform/platform.h"
#include "record/record.h"
#include "scan/lines.h"
#include "utf8.h"

int exit_status = status_no_sign;

namespace {

const char report_banner[] = "*************** Error Found ***************\n";
const char report_text_format[] = "Error text: %s\n";
static_assert(size_t{report_text_size} < size_t{held_reply_size}, "a long line keeps what a report shows");

// Whether what saved_stdout shows so far ends inside a line, and when the relay last
// showed bytes of that line. The banner before the relay ends with a line feed.
bool stdout_inside_line = false;
int64_t stdout_line_at = 0;
int64_t (*report_clock)() = clock_ms;

// Reports that wait for the client's line on stdout to end: never between the bytes of
// one line that arrive close together.
bool holding = false;
char held[16384];
size_t held_length = 0;

void write_out(const char* bytes, size_t length) {
  if (!holding) {
    write_handle(saved_stdout, bytes, length);
    return;
  }
  memcpy(held + held_length, bytes, length);
  held_length += length;
}

void write_line(const char* format, const char* text) {
  char line[line_buffer_size];
  size_t length = format_line(line, format, text);
  write_out(line, length);
}

// A report's first line, which starts a line of its own. While the client's line on
// stdout is still arriving, a report about its output (`may_hold`) is held until that
// line ends or pauses.
void write_banner(bool may_hold) {
  bool arriving = may_hold && stdout_inside_line && report_clock() - stdout_line_at < held_report_ms;
  bool room = held_length + 2 * line_buffer_size <= sizeof held;
  if (!(holding || arriving) || !room || !may_hold) {
    release_held_reports();
    if (stdout_inside_line) write_handle(saved_stdout, "\n", 1);
    stdout_inside_line = false;
  } else {
    holding = true;
  }
  write_out(report_banner, sizeof report_banner - 1);
}

// Writes `number`, terminated, into `text` (24 bytes): in decimal, or from 0x80000000
// on as 0x and eight hexadecimal digits, as Windows writes its exception codes
// (0xC0000005).
void format_number(unsigned long number, char* text) {
  char digits[24];
  size_t count = 0;
  bool hex = number >= 0x80000000ul;
  unsigned long base = hex ? 16 : 10;
  do {
    digits[count++] = "0123456789ABCDEF"[number % base];
    number /= base;
  } while (number != 0);
  size_t used = 0;
  if (hex) {
    text[used++] = '0';
    text[used++] = 'x';
  }
  while (count > 0) text[used++] = digits[--count];
  text[used] = '\0';
}

// What the record keeps of a text of `length` bytes cut to `shown`: where a UTF-8
// character stands across the cut, the text before it, so that the cut alone does not
// make the text no UTF-8.
size_t recorded_length(const char* text, size_t length, size_t shown) {
  for (size_t back = 1; back <= 3 && back <= shown && shown < length; ++back)
    if (utf8_character(text + shown - back, length - (shown - back)) > back) return shown - back;
  return shown;
}

void record(run_status status) {
  if (exit_status == status_no_sign) exit_status = status;
}

// Writes a report with its text, and records `status` if it is the run's first sign.
void write_report(const char* text, run_status status, bool may_hold) {
  write_banner(may_hold);
  write_line(report_text_format, text);
  record(status);
}

// Reports a sign that is no client output, which the ignore list does not touch, and
// notes it in the run's record. status_no_sign: it decides no status.
void report_own_sign(record_kind kind, const char* text, run_status status) {
  record_sign(kind, text, strlen(text), unknown_encoding, -1, 0, false);
  // The backstop's record holds the stop before its report's write, which may be held.
  if (kind == recorded_stop) prepare_stop_record();
  write_report(text, status, false);
}

}  // namespace

void note_stdout(const char* bytes, size_t length) {
  if (length == 0) return;
  stdout_inside_line = bytes[length - 1] != '\n';
  if (stdout_inside_line) stdout_line_at = report_clock();
}

void set_report_clock(int64_t (*clock)()) { report_clock = clock; }

bool reports_held() { return holding; }

int64_t held_reports_due() { return holding ? stdout_line_at + held_report_ms : 0; }

void release_held_reports() {
  if (!holding) return;
  if (stdout_inside_line) write_handle(saved_stdout, "\n", 1);
  stdout_inside_line = false;
  write_handle(saved_stdout, held, held_length);
  held_length = 0;
  holding = false;
}

void report_stop(const char* cause) {
  char text[line_buffer_size];
  format_line(text, "veskar stopped by %s: ftp stopped", cause);
  report_own_sign(recorded_stop, text, status_no_sign);
}

void report_stall(unsigned seconds) {
  char number[24];
  format_number(seconds, number);
  char text[line_buffer_size];
  format_line(text,
              seconds == 1 ? "No activity for %s second: ftp stopped"
                           : "No activity for %s seconds: ftp stopped",
              number);
  report_own_sign(recorded_stall, text, status_stalled);
}

void report_client_end(client_end end) {
  record_client_end(end);
  if (end.kind == ended_unknown || (end.kind == ended_with_status && end.code == 0)) return;
  char number[24];
  format_number(end.code, number);
  char text[line_buffer_size];
  format_line(text,
              end.kind == ended_by_signal ? "ftp ended by signal %s" : "ftp ended with exit status %s",
              number);
  report_own_sign(recorded_client_end, text, status_client_failed);
}

void report_found(const found_sign* sign, void* stream) {
  // The run's record lists it even when the ignore list silences it, for an audit.
  size_t shown = sign->length < report_text_size ? sign->length : size_t{report_text_size};
  record_sign(sign->kind == sign_message ? recorded_message : recorded_reply, sign->text,
              sign->text != nullptr ? recorded_length(sign->text, sign->length, shown) : 0,
              sign->encoding, stream != nullptr ? *static_cast<const int*>(stream) : -1,
              sign->line_number, sign->line_flagged);
  if (sign->line_flagged) return;
  run_status status = sign->kind == sign_message ? status_known_message : status_error_reply;
  if (sign->text == nullptr) {
    // A reply line that never ended, or whose zero byte hides its end: the banner alone.
    write_banner(true);
    record(status);
    return;
  }
  // Client text, terminated and cut to what a report line can hold with its line feed.
  char text[report_text_size + 1];
  memcpy(text, sign->text, shown);
  text[shown] = '\0';
  write_report(text, status, true);
}
