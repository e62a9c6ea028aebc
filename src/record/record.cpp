// The end of the run's record: its line, appended in one write.
#include "record/record.h"

#include "handles.h"
#include "record/facts.h"

void finish_record(int status, const char* error) {
  if (!keeping_record()) return;
  static char line[max_record_size];
  size_t length = compose_record(line, sizeof line, status, error);
  // One write, to a file opened for appending: whole lines whoever else appends.
  if (!write_handle(facts.file, line, length)) {
    static const char failed[] = "veskar: the run's record could not be written to VESKAR_LOG\n";
    write_handle(saved_stderr, failed, sizeof failed - 1);
  }
  facts.kept = false;
}
