// What the run's record knows of the run, as its rooms share it: the facts noted as the
// run goes, and the JSON line they make.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"
#include "record/record.h"

struct kept_sign {
  record_kind kind;
  size_t encoding;
  int stream;
  size_t line;
  size_t script_line;  // the line of the commands the client carried out then
  bool ignored;
  size_t length;
  char text[1024];  // more than any report shows
};

struct kept_transfer {
  bool sent;
  unsigned long long bytes;
};

struct run_facts {
  bool kept;
  const os_char* path;
  size_t limit;  // of a record's size: pipe_write_size for a pipe or FIFO
  int64_t started;     // wall clock, ms
  int64_t started_at;  // monotonic, ms
  char host[256];
  const os_char* client;
  int argument_count;  // the wrapper's own argv: arguments[1, argument_count)
  const os_char* const* arguments;
  bool joined;  // one pipe for both of the client's streams
  size_t sign_count;
  kept_sign signs[max_record_signs];
  size_t transfer_count;
  kept_transfer transfers[max_record_transfers];
  bool client_known;
  client_end end;
  unsigned long long bytes[2];
  const os_char* error_detail;
  // VESKAR_ON_FAILURE=stop: whether the commands go a line at a time (the signs then name
  // a line), the line the client carries out now, and once the run has ended the account.
  bool scripted;
  size_t script_line;
  bool script_ended;
  size_t lines_sent;
  size_t lines_not_sent;
  bool script_stopped;
  size_t stopped_at_line;
};
extern run_facts facts;

// Writes the record of the run as it stands into `out` (max_record_size bytes, all of
// which it may use while it tries), one JSON object and a line feed, in at most `limit`
// bytes (at least 1024): where the whole would not fit, texts are cut shorter and fewer
// signs and transfers are listed, the JSON always whole. Returns its length.
size_t compose_record(char* out, size_t limit, int status, const char* error);

