// The run's facts, noted as the run goes, for its record.
#include <string.h>

#include "record/facts.h"

run_facts facts;

namespace {

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

bool keeping_record() { return facts.kept; }

const char* start_record(const os_char* path, const os_char* client, int count,
                         const os_char* const* arguments) {
  if (path == nullptr || path[0] == 0) return nullptr;
  facts.file = open_for_append(path);
  if (facts.file == no_handle) return "VESKAR_LOG cannot be opened for appending";
  facts.kept = true;
  facts.path = path;
  facts.started = wall_clock_ms();
  facts.started_at = clock_ms();
  host_name(facts.host, sizeof facts.host);
  facts.client = client;
  facts.argument_count = count;
  facts.arguments = arguments;
  return nullptr;
}

void record_sign(record_kind kind, const char* text, size_t length, int stream, size_t line_number,
                 bool ignored) {
  if (!keeping_record()) return;
  if (facts.sign_count < max_record_signs) {
    kept_sign& sign = facts.signs[facts.sign_count];
    sign.kind = kind;
    sign.stream = stream;
    sign.line = line_number;
    sign.ignored = ignored;
    sign.length = text == nullptr ? 0 : length < sizeof sign.text ? length : sizeof sign.text;
    if (sign.length > 0) memcpy(sign.text, text, sign.length);
  }
  ++facts.sign_count;
}

void record_streams_joined() { facts.joined = true; }

void record_client_end(client_end end) {
  facts.client_known = true;
  facts.end = end;
}

void record_transfer(bool sent, unsigned long long bytes) {
  if (!keeping_record()) return;
  if (facts.transfer_count < max_record_transfers) facts.transfers[facts.transfer_count] = {sent, bytes};
  ++facts.transfer_count;
}

void record_output(int stream, const char* bytes, size_t length) {
  if (!keeping_record() || length == 0) return;
  facts.bytes[stream] += length;
  // The stream's last bytes and this read, so that a line begun in one read counts.
  static char window[sizeof facts.tail[0] + 4096];
  size_t tail = facts.tail_length[stream];
  unsigned long long before = facts.bytes[stream] - length;  // the stream's bytes before this read
  for (size_t at = 0; at < length;) {
    size_t take = length - at < 4096 ? length - at : 4096;
    memcpy(window, facts.tail[stream], tail);
    memcpy(window + tail, bytes + at, take);
    // The window opens the stream when the tail holds all the stream had before.
    find_transfers(window, tail + take, tail, before + at == tail);
    size_t keep = tail + take < sizeof facts.tail[0] ? tail + take : sizeof facts.tail[0];
    memcpy(facts.tail[stream], window + tail + take - keep, keep);
    tail = keep;
    at += take;
  }
  facts.tail_length[stream] = tail;
}
