#include "run/relay.h"

#include <string.h>

#include "fatal.h"
#include "handles.h"
#include "platform/platform.h"
#include "scan/report.h"
#include "record/record.h"
#include "scan/scan.h"
#include "settings/settings.h"
#include "run/script.h"
#include "run/watchdog.h"

namespace {

// A stream's echo: where it goes, whether it still does, and how much of the read being
// scanned it has shown.
struct stream_echo {
  bool open;
  os_handle* to;  // saved_stdout or saved_stderr
  const char* read;
  size_t shown;
};
stream_echo echoes[2];

// Shows bytes of a stream, until an echo fails.
void show(stream_echo& e, const char* bytes, size_t length) {
  if (length == 0) return;
  if (e.open) e.open = write_handle(*e.to, bytes, length);
  if (e.to == &saved_stdout) note_stdout(bytes, length);
}

void echo(int stream, const char* bytes, size_t length) {
  stream_echo& e = echoes[stream];
  // Reports that waited for stdout's line go right after its line feed.
  if (e.to == &saved_stdout && reports_held()) {
    if (const char* feed = static_cast<const char*>(memchr(bytes, '\n', length))) {
      size_t through = static_cast<size_t>(feed - bytes) + 1;
      show(e, bytes, through);
      release_held_reports();
      bytes += through;
      length -= through;
    }
  }
  show(e, bytes, length);
}

// A chunk_shown: shows the read being scanned through `end`.
void show_through(int stream, size_t end) {
  stream_echo& e = echoes[stream];
  if (end <= e.shown) return;
  echo(stream, e.read + e.shown, end - e.shown);
  e.shown = end;
}

// A request to stop the wrapper: the client gets no more commands, and the request.
void take_stop(int stop) {
  halt_script();
  pass_stop(stop);
}

// Set once the client has been stopped for inactivity: its end is then the wrapper's
// doing, and the stall its report.
bool stopped = false;

// The client showed no activity for idle_timeout_seconds.
void stop_stalled_client() {
  stop_client();
  stopped = true;
  // What it printed before it went quiet counts first: an unfinished prompt, say.
  finish_scan(output_stream);
  finish_scan(error_stream);
  report_stall(idle_timeout_seconds);
}

}  // namespace

void reset_relay() {
  echoes[output_stream] = {true, &saved_stdout, nullptr, 0};
  echoes[error_stream] = {true, &saved_stderr, nullptr, 0};
  start_scan();
  note_stdout("\n", 1);
}

void relay_chunk(int stream, const char* bytes, size_t length) {
  if (length == 0) {
    finish_scan(stream);
    script_saw_output(stream, bytes, length);
    return;
  }
  record_output(stream, length);
  // A report follows the line it is about and comes before the rest of the read, such
  // as the client's next prompt, which would otherwise sit above it. A read with no
  // sign is shown in one write. After a failed echo the stream is still read to its
  // end and scanned, so the client never stalls on a full pipe and no failure sign
  // goes uncounted.
  stream_echo& e = echoes[stream];
  e.read = bytes;
  e.shown = 0;
  scan_chunk(stream, bytes, length, show_through);
  echo(stream, bytes + e.shown, length - e.shown);
  script_saw_output(stream, bytes, length);
}

void relay_streams() {
  if (!close_handle(output_pipe.write_end))
    report_failure("Closing handle failed", os_literal("pipe"));
  if (!close_handle(error_pipe.write_end))
    report_failure("Closing error handle failed", os_literal("pipe"));
  reset_relay();
  start_pump(output_pipe.read_end, error_pipe.read_end, relay_chunk);
  // Held reports are due once their line has paused (its bytes, had any come, would have
  // moved it); the client's next command, once it may wait for it.
  static const timed_hook hooks[] = {{held_reports_due, release_held_reports}, {script_due, script_step}};
  watch_calls calls = system_watch_calls;
  calls.pass_stop = take_stop;
  int stop = watch_relay(&calls, idle_timeout_seconds, stop_stalled_client, hooks,
                         script_running() ? 2 : 1);
  end_pump();
  // The client's output is over: nothing waits for a line any more.
  release_held_reports();
  // Asked to stop: reported after all the client printed, its last unfinished lines
  // scanned; the client's end is the stop's doing.
  if (stop != 0) {
    // First, so that the record the stop's report prepares for the backstop has it too.
    end_script();
    report_stop(stop_name(stop));
    finish_record(record_stopped, nullptr);
    end_by_stop(stop);
  }
  // How the client ended is its last word, after everything it printed.
  if (!stopped) report_client_end(client_ending());
  end_script();
}
