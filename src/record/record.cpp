// The run's record file: checked at the start, and its line appended in one write at the end.
#include "record/record.h"

#include "failure.h"
#include "handles.h"
#include "record/facts.h"

namespace {

// The record's line: the backstop's while it holds it, then the run's last.
char line[max_record_size];

// A pipe or FIFO stays open from the start to the end: closed and opened again, it
// would tell its reader the end. A file is opened again by its name at the end.
os_handle kept_pipe = no_handle;

size_t size_limit(os_handle file) { return is_pipe(file) ? size_t{pipe_write_size} : size_t{max_record_size}; }

const char not_written[] = "veskar: the run's record could not be written to VESKAR_LOG\n";

}  // namespace

const char* start_record(const os_char* path, const os_char* client, int count,
                         const os_char* const* arguments) {
  if (path == nullptr || path[0] == 0) return nullptr;
  // A file is opened again by its path at the end: renamed meanwhile (rotated), it gets
  // no more.
  os_handle file = open_for_append(path);
  if (file == no_handle) return "VESKAR_LOG cannot be opened for appending";
  facts.limit = size_limit(file);
  if (is_pipe(file))
    kept_pipe = file;
  else
    close_handle(file);
  facts.kept = true;
  facts.path = path;
  facts.started = wall_clock_ms();
  facts.started_at = clock_ms();
  host_name(facts.host, sizeof facts.host);
  facts.client = client;
  facts.argument_count = count;
  facts.arguments = arguments;
  // For a stop that the relay never takes: something holds it all along.
  prepare_stop_record();
  return nullptr;
}

void prepare_stop_record() {
  if (!keeping_record()) return;
  // Never handed over while it is being made.
  keep_backstop_record(nullptr, nullptr, 0);
  size_t length = compose_record(line, facts.limit, record_stopped, nullptr);
  keep_backstop_record(facts.path, line, length);
}

void finish_record(int status, const char* error) {
  if (!keeping_record()) return;
  facts.kept = false;
  keep_backstop_record(nullptr, nullptr, 0);
  // One write, so that lines never interleave, whoever else appends. A short one is not
  // continued: its rest would land after another's.
  os_handle file = kept_pipe != no_handle ? kept_pipe : open_for_append(facts.path);
  if (file == no_handle) {
    take_failure(facts.path);
    write_handle(saved_stderr, not_written, sizeof not_written - 1);
    say_failure();
    return;
  }
  size_t length = compose_record(line, size_limit(file), status, error);
  if (write_once(file, line, length) != length)
    write_handle(saved_stderr, not_written, sizeof not_written - 1);
  close_handle(file);
}
