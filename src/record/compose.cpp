// The record's JSON line, made from the run's facts within a size.
#include <string.h>

#include "platform/platform.h"
#include "record/facts.h"
#include "record/json.h"
#include "record/redact.h"
#include "text.h"

namespace {

const char* const status_names[] = {"no_sign", "setup_failed", "known_message",
                                    "error_reply", "stalled", "client_failed"};
const char* const kind_names[] = {"message", "reply", "stall", "client_end", "stop"};

// How much of the facts a record shows: the rules in use now, and smaller ones for a
// target that takes only so much in one write.
struct record_form {
  size_t signs;
  size_t transfers;
  size_t text_room;       // of each sign's text, as JSON
  size_t arguments_room;  // of all arguments together, as JSON
  size_t name_room;       // of the client, the host and the error, each, as JSON
};

void put_text(json_text* json, const os_char* text, size_t room, bool masked) {
  static char utf8[3 * 4096 + 8];
  size_t size = os_text_in_utf8(text, text_length(text), utf8, sizeof utf8 - 4);
  if (masked) size = mask_password(utf8, size);
  json_put_string(json, utf8, size, room);
}

void put_arguments(json_text* json, size_t room) {
  size_t end = json->used + room - 1;  // the closing bracket's place
  json_put(json, "[");
  for (int a = 1; a < facts.argument_count; ++a) {
    if (end < json->used + 3) break;
    if (a > 1) json_put(json, ",");
    put_text(json, facts.arguments[a], end - json->used, true);
  }
  json_put(json, "]");
}

// A count, or null where there is none.
void put_count(json_text* json, bool known, size_t count) {
  if (known)
    json_put_number(json, count);
  else
    json_put(json, "null");
}

void put_sign(json_text* json, const kept_sign& sign, size_t text_room) {
  static char utf8[3 * 1024];
  // The wrapper's own texts are ASCII; the client's are in the encodings it writes.
  size_t size = sign.kind == recorded_message || sign.kind == recorded_reply
                    ? client_text_in_utf8(sign.text, sign.length, sign.encoding, utf8, sizeof utf8)
                    : repair_utf8(sign.text, sign.length, utf8, sizeof utf8);
  json_put(json, "{\"kind\":\"");
  json_put(json, kind_names[sign.kind]);
  json_put(json, "\",\"text\":");
  json_put_string(json, utf8, size, text_room);
  json_put(json, ",\"stream\":");
  json_put(json, sign.stream == output_stream  ? facts.joined ? "\"both\"" : "\"stdout\""
                 : sign.stream == error_stream ? "\"stderr\""
                                               : "null");
  json_put(json, ",\"line\":");
  put_count(json, sign.line > 0, sign.line);
  json_put(json, ",\"script_line\":");
  put_count(json, facts.scripted, sign.script_line);
  json_put(json, sign.ignored ? ",\"ignored\":true}" : ",\"ignored\":false}");
}

void put_record(json_text* json, const record_form& form, int status, const char* error) {
  json_put(json, "{\"time\":");
  json_put_time(json, facts.started);
  json_put(json, ",\"duration_ms\":");
  int64_t took = clock_ms() - facts.started_at;
  json_put_number(json, took > 0 ? static_cast<unsigned long long>(took) : 0);
  json_put(json, ",\"host\":");
  json_put_string(json, facts.host, strlen(facts.host), form.name_room);
  json_put(json, ",\"veskar\":\"" VESKAR_VERSION "\",\"client\":");
  put_text(json, facts.client, form.name_room, false);
  json_put(json, ",\"arguments\":");
  put_arguments(json, form.arguments_room);
  json_put(json, ",\"status\":");
  if (status == record_stopped)
    json_put(json, "null");
  else
    json_put_number(json, static_cast<unsigned long long>(status));
  json_put(json, ",\"status_name\":\"");
  json_put(json, status == record_stopped             ? "stopped"
                 : status >= 0 && status <= 5 ? status_names[status]
                                                      : "other");
  json_put(json, "\",\"error\":");
  if (error != nullptr) {
    // The ERROR line's text, without the line feed some messages end in.
    size_t length = strlen(error);
    while (length > 0 && error[length - 1] == '\n') --length;
    json_put_string(json, error, length, form.name_room);
  } else {
    json_put(json, "null");
  }
  json_put(json, ",\"error_detail\":");
  if (facts.error_detail != nullptr)
    put_text(json, facts.error_detail, form.name_room, false);
  else
    json_put(json, "null");
  json_put(json, ",\"signs\":[");
  for (size_t s = 0; s < form.signs; ++s) {
    if (s > 0) json_put(json, ",");
    put_sign(json, facts.signs[s], form.text_room);
  }
  json_put(json, "],\"signs_left_out\":");
  json_put_number(json, facts.sign_count - form.signs);
  json_put(json, ",\"client_end\":");
  if (!facts.client_known || facts.end.kind == ended_unknown) {
    json_put(json, "null");
  } else {
    json_put(json, facts.end.kind == ended_by_signal ? "{\"signal\":" : "{\"exit_status\":");
    json_put_number(json, facts.end.code);
    json_put(json, "}");
  }
  json_put(json, ",\"bytes\":{\"stdout\":");
  json_put_number(json, facts.bytes[output_stream]);
  json_put(json, ",\"stderr\":");
  json_put_number(json, facts.bytes[error_stream]);
  json_put(json, "},\"transfers\":[");
  for (size_t t = 0; t < form.transfers; ++t) {
    json_put(json, t > 0 ? ",{\"direction\":\"" : "{\"direction\":\"");
    json_put(json, facts.transfers[t].sent ? "sent" : "received");
    json_put(json, "\",\"bytes\":");
    json_put_number(json, facts.transfers[t].bytes);
    json_put(json, "}");
  }
  json_put(json, "],\"transfers_left_out\":");
  json_put_number(json, facts.transfer_count - form.transfers);
  json_put(json, ",\"script\":");
  if (facts.script_ended) {
    json_put(json, "{\"lines_sent\":");
    json_put_number(json, facts.lines_sent);
    json_put(json, ",\"lines_not_sent\":");
    json_put_number(json, facts.lines_not_sent);
    json_put(json, ",\"stopped_at_line\":");
    put_count(json, facts.script_stopped, facts.stopped_at_line);
    json_put(json, "}");
  } else {
    json_put(json, "null");
  }
  json_put(json, "}\n");
}

size_t least(size_t a, size_t b) { return a < b ? a : b; }

}  // namespace

size_t compose_record(char* out, size_t limit, int status, const char* error) {
  record_form form = {least(facts.sign_count, max_record_signs),
                      least(facts.transfer_count, max_record_transfers), max_record_text,
                      max_record_arguments, 3 * 2048};
  // The whole record fits max_record_size: each form is made whole in `out`, then measured.
  for (int round = 0;; ++round) {
    json_text json = {out, max_record_size, 0};
    put_record(&json, form, status, error);
    bool smallest = form.name_room == 64;
    if (json.used <= limit || smallest) return least(json.used, limit);
    // Shorter texts first, then fewer signs and transfers, the last ones first (the
    // first sign decided the run), then the names and arguments cut to their start.
    if (round == 0) {
      form.text_room = least(form.text_room, 160);
      form.arguments_room = least(form.arguments_room, limit / 4);
      form.name_room = least(form.name_room, 256);
    } else if (form.signs > 0 || form.transfers > 0) {
      form.signs /= 2;
      form.transfers /= 2;
    } else {
      form.arguments_room = form.name_room = 64;
    }
  }
}
