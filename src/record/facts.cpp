// The run's facts, noted as the run goes, for its record.
#include <string.h>

#include "record/facts.h"

run_facts facts;

bool keeping_record() { return facts.kept; }

void record_sign(record_kind kind, const char* text, size_t length, size_t encoding, int stream,
                 size_t line_number, bool ignored) {
  if (!keeping_record()) return;
  if (facts.sign_count < max_record_signs) {
    kept_sign& sign = facts.signs[facts.sign_count];
    sign.kind = kind;
    sign.encoding = encoding;
    sign.stream = stream;
    sign.line = line_number;
    sign.script_line = facts.script_line;
    sign.ignored = ignored;
    sign.length = text == nullptr ? 0 : length < sizeof sign.text ? length : sizeof sign.text;
    if (sign.length > 0) memcpy(sign.text, text, sign.length);
  }
  ++facts.sign_count;
}

void record_error_detail(const os_char* detail) { facts.error_detail = detail; }

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

void record_output(int stream, size_t length) {
  if (keeping_record()) facts.bytes[stream] += length;
}

void record_script_line(size_t line) {
  facts.scripted = true;
  facts.script_line = line;
}

void record_script(size_t sent, size_t not_sent, bool stopped, size_t stopped_at) {
  facts.script_ended = true;
  facts.lines_sent = sent;
  facts.lines_not_sent = not_sent;
  facts.script_stopped = stopped;
  facts.stopped_at_line = stopped_at;
}
