// The end of the run's record: its line, appended in one write.
#include "record/record.h"

#include "failure.h"
#include "handles.h"
#include "record/facts.h"

namespace {

// The record's line: the backstop's while it holds it, then the run's last.
char line[max_record_size];

const char not_written[] = "veskar: the run's record could not be written to VESKAR_LOG\n";

}  // namespace

void prepare_stop_record() {
  // Never handed over while it is being made.
  keep_backstop_record(nullptr, nullptr, 0);
  size_t length = compose_record(line, facts.limit, record_stopped, nullptr);
  keep_backstop_record(facts.path, line, length);
}

void finish_record(int status, const char* error) {
  if (!keeping_record()) return;
  facts.kept = false;
  keep_backstop_record(nullptr, nullptr, 0);
  size_t length = compose_record(line, facts.limit, status, error);
  // Opened by its name, so that a file rotated meanwhile gets no more; one write, so that
  // lines never interleave, whoever else appends. A short one is not continued: its
  // rest would land after another's.
  os_handle file = open_for_append(facts.path);
  if (file == no_handle) {
    take_failure(facts.path);
    write_handle(saved_stderr, not_written, sizeof not_written - 1);
    say_failure();
    return;
  }
  if (write_once(file, line, length) != length)
    write_handle(saved_stderr, not_written, sizeof not_written - 1);
  close_handle(file);
}
