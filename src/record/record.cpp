#include "record/record.h"

#include <string.h>

#include "command_line.h"
#include "exit_status.h"
#include "handles.h"
#include "platform/record.h"
#include "record/json.h"
#include "record/redact.h"
#include "text.h"

namespace {

struct kept_sign {
  record_kind kind;
  int stream;
  size_t line;
  bool ignored;
  size_t length;
  char text[1024];  // more than any report shows
};

struct transfer {
  bool sent;
  unsigned long long bytes;
};

// The record's file and what the run has shown so far.
struct run_record {
  bool kept;
  os_handle file;
  int64_t started;     // wall clock, ms
  int64_t started_at;  // monotonic, ms
  char host[256];
  char client[3 * 2048];  // as JSON
  char arguments[max_record_arguments + 8];  // the array, as JSON
  size_t sign_count;
  kept_sign signs[max_record_signs];
  size_t transfer_count;
  transfer transfers[max_record_transfers];
  bool client_known;
  client_end end;
  unsigned long long bytes[2];
  // The last bytes of each stream, which a statistics line may have begun in.
  char tail[2][48];
  size_t tail_length[2];
};
run_record record;

// The record as it is written: JSON, cut to stay within max_record_size.
char line_bytes[max_record_size];
json_text line = {line_bytes, sizeof line_bytes, 0};

void put(const char* text) { json_put(&line, text); }
void put_number(unsigned long long number) { json_put_number(&line, number); }
void put_quoted(const char* utf8, size_t length, size_t room) { json_put_string(&line, utf8, length, room); }

const char* const status_names[] = {"no_sign", "setup_failed", "known_message",
                                    "error_reply", "stalled", "client_failed"};
const char* const kind_names[] = {"message", "reply", "stall", "client_end", "stop"};

// Notes the statistics lines that end in `text`, the stream's last bytes before this
// read and the read: the byte count at the start of a line or after the prompt, then
// " bytes sent in " or " bytes received in ".
void find_transfers(const char* text, size_t length, size_t fresh_from, bool stream_start) {
  static const char sent[] = "sent in ", received[] = "received in ";
  // Each " bytes " by its 'y', a byte that ordinary output holds few of.
  for (const char* y = text; (y = static_cast<const char*>(memchr(y, 'y', text + length - y))) != nullptr; ++y) {
    size_t at = static_cast<size_t>(y - text);
    if (at < 2 || length - at < 5 || memcmp(text + at - 2, " bytes ", 7) != 0) continue;
    const char* rest = text + at + 5;
    size_t left = length - at - 5;
    bool is_sent = left >= sizeof sent - 1 && memcmp(rest, sent, sizeof sent - 1) == 0;
    bool is_received = left >= sizeof received - 1 && memcmp(rest, received, sizeof received - 1) == 0;
    size_t end = at + 5 + (is_sent ? sizeof sent - 1 : sizeof received - 1);
    if ((!is_sent && !is_received) || end <= fresh_from) continue;
    size_t start = at - 2;
    size_t digits_end = start;
    while (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
    // At a line's start, after the prompt, or after "ftp: " as the Windows client
    // writes them ("ftp: 1086 bytes received in 0.00Seconds 1086.00Kbytes/sec.").
    bool opens_line = start == 0 ? stream_start
                                 : text[start - 1] == '\n' || text[start - 1] == '\r' ||
                                       (start >= 5 && (memcmp(text + start - 5, "ftp> ", 5) == 0 ||
                                                       memcmp(text + start - 5, "ftp: ", 5) == 0));
    if (start == digits_end || !opens_line) continue;
    unsigned long long bytes = 0;
    for (size_t d = start; d < digits_end; ++d)
      bytes = bytes > 1844674407370955160ull ? bytes : bytes * 10 + static_cast<unsigned>(text[d] - '0');
    record_transfer(is_sent, bytes);
  }
}

}  // namespace

bool keeping_record() { return record.kept; }

const char* start_record(const os_char* path, const os_char* client, int count,
                         const os_char* const* arguments) {
  if (path == nullptr || path[0] == 0) return nullptr;
  record.file = open_for_append(path);
  if (record.file == no_handle) return "VESKAR_LOG cannot be opened for appending";
  record.kept = true;
  record.started = wall_clock_ms();
  record.started_at = clock_ms();
  host_name(record.host, sizeof record.host);
  static char utf8[3 * 2048];
  size_t size = os_text_in_utf8(client, text_length(client), utf8, sizeof utf8);
  record.client[json_string(utf8, size, record.client, sizeof record.client - 1)] = '\0';
  // The arguments, each cut as the array's room runs out.
  size_t used = 0;
  record.arguments[used++] = '[';
  for (int a = 1; a < count; ++a) {
    size = mask_password(utf8, os_text_in_utf8(arguments[a], text_length(arguments[a]), utf8,
                                               sizeof utf8 - 4));
    size_t room = max_record_arguments - used;
    if (room < 3) break;
    if (a > 1) record.arguments[used++] = ',';
    used += json_string(utf8, size, record.arguments + used, room - 1);
  }
  record.arguments[used++] = ']';
  record.arguments[used] = '\0';
  return nullptr;
}

void record_sign(record_kind kind, const char* text, size_t length, int stream, size_t line_number,
                 bool ignored) {
  if (!keeping_record()) return;
  if (record.sign_count < max_record_signs) {
    kept_sign& sign = record.signs[record.sign_count];
    sign.kind = kind;
    sign.stream = stream;
    sign.line = line_number;
    sign.ignored = ignored;
    sign.length = text == nullptr ? 0 : length < sizeof sign.text ? length : sizeof sign.text;
    if (sign.length > 0) memcpy(sign.text, text, sign.length);
  }
  ++record.sign_count;
}

void record_client_end(client_end end) {
  record.client_known = true;
  record.end = end;
}

void record_transfer(bool sent, unsigned long long bytes) {
  if (!keeping_record()) return;
  if (record.transfer_count < max_record_transfers) record.transfers[record.transfer_count] = {sent, bytes};
  ++record.transfer_count;
}

void record_output(int stream, const char* bytes, size_t length) {
  if (!keeping_record() || length == 0) return;
  record.bytes[stream] += length;
  // The stream's last bytes and this read, so that a line begun in one read counts.
  static char window[sizeof record.tail[0] + 4096];
  size_t tail = record.tail_length[stream];
  unsigned long long before = record.bytes[stream] - length;  // the stream's bytes before this read
  for (size_t at = 0; at < length;) {
    size_t take = length - at < 4096 ? length - at : 4096;
    memcpy(window, record.tail[stream], tail);
    memcpy(window + tail, bytes + at, take);
    // The window opens the stream when the tail holds all the stream had before.
    find_transfers(window, tail + take, tail, before + at == tail);
    size_t keep = tail + take < sizeof record.tail[0] ? tail + take : sizeof record.tail[0];
    memcpy(record.tail[stream], window + tail + take - keep, keep);
    tail = keep;
    at += take;
  }
  record.tail_length[stream] = tail;
}

void finish_record(int status, const char* error) {
  if (!keeping_record()) return;
  line.used = 0;
  put("{\"time\":");
  json_put_time(&line, record.started);
  put(",\"duration_ms\":");
  int64_t took = clock_ms() - record.started_at;
  put_number(took > 0 ? static_cast<unsigned long long>(took) : 0);
  put(",\"host\":");
  put_quoted(record.host, strlen(record.host), sizeof record.host + 8);
  put(",\"veskar\":\"" VESKAR_VERSION "\",\"client\":");
  put(record.client);
  put(",\"arguments\":");
  put(record.arguments);
  put(",\"status\":");
  if (status == record_stopped)
    put("null");
  else
    put_number(static_cast<unsigned long long>(status));
  put(",\"status_name\":\"");
  put(status == record_stopped ? "stopped" : status >= 0 && status <= 5 ? status_names[status] : "other");
  put("\",\"error\":");
  if (error != nullptr)
    put_quoted(error, strlen(error), line_buffer_size);
  else
    put("null");
  put(",\"signs\":[");
  size_t kept = record.sign_count < max_record_signs ? record.sign_count : size_t{max_record_signs};
  for (size_t s = 0; s < kept; ++s) {
    const kept_sign& sign = record.signs[s];
    static char utf8[3 * 1024];
    // The wrapper's own texts are ASCII; the client's are in the encodings it writes.
    size_t size = sign.kind == recorded_message || sign.kind == recorded_reply
                      ? client_bytes_in_utf8(sign.text, sign.length, utf8, sizeof utf8)
                      : repair_utf8(sign.text, sign.length, utf8, sizeof utf8);
    put(s > 0 ? ",{\"kind\":\"" : "{\"kind\":\"");
    put(kind_names[sign.kind]);
    put("\",\"text\":");
    put_quoted(utf8, size, max_record_text);
    put(",\"stream\":");
    put(sign.stream == output_stream ? "\"stdout\"" : sign.stream == error_stream ? "\"stderr\"" : "null");
    put(",\"line\":");
    if (sign.line > 0)
      put_number(sign.line);
    else
      put("null");
    put(sign.ignored ? ",\"ignored\":true}" : ",\"ignored\":false}");
  }
  put("],\"signs_left_out\":");
  put_number(record.sign_count - kept);
  put(",\"client_end\":");
  if (!record.client_known || record.end.kind == ended_unknown) {
    put("null");
  } else {
    put(record.end.kind == ended_by_signal ? "{\"signal\":" : "{\"exit_status\":");
    put_number(record.end.code);
    put("}");
  }
  put(",\"bytes\":{\"stdout\":");
  put_number(record.bytes[output_stream]);
  put(",\"stderr\":");
  put_number(record.bytes[error_stream]);
  put("},\"transfers\":[");
  size_t listed = record.transfer_count < max_record_transfers ? record.transfer_count
                                                               : size_t{max_record_transfers};
  for (size_t t = 0; t < listed; ++t) {
    put(t > 0 ? ",{\"direction\":\"" : "{\"direction\":\"");
    put(record.transfers[t].sent ? "sent" : "received");
    put("\",\"bytes\":");
    put_number(record.transfers[t].bytes);
    put("}");
  }
  put("],\"transfers_left_out\":");
  put_number(record.transfer_count - listed);
  put("}\n");
  // One write, to a file opened for appending: whole lines whoever else appends.
  if (!write_handle(record.file, line.bytes, line.used)) {
    static const char failed[] = "veskar: the run's record could not be written to VESKAR_LOG\n";
    write_handle(saved_stderr, failed, sizeof failed - 1);
  }
  record.kept = false;
}
