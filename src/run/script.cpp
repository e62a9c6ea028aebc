#include "run/script.h"

#include <string.h>

#include "exit_status.h"
#include "handles.h"
#include "platform/platform.h"
#include "record/record.h"
#include "run/prompt.h"
#include "scan/scan.h"
#include "settings/settings.h"
#include "text.h"

namespace {

enum {
  buffer_size = 8192,  // a line up to this long goes to the client in one write
  // The longest pause between two looks at a client that works on one command: it keeps
  // the wrapper's own time within its idle target.
  longest_pause_ms = 500,
};

enum script_phase {
  script_off,      // no stop: the client reads the wrapper's standard input itself
  script_between,  // the client has each line it was given; the next goes once it waits
  script_in_line,  // a line is on its way, in pieces
  script_closed,   // the client's input has ended
};

struct script_state {
  script_phase phase;
  // Commands read and not yet handed over: buffer[start, end). Nothing else ever holds
  // their bytes.
  char buffer[buffer_size];
  size_t start;
  size_t end;
  bool source_ended;
  size_t lines_sent;  // lines whose first byte has been handed over
  bool stopped;
  size_t stopped_at;
  bool counted;  // the lines not sent, once counted
  size_t not_sent;
  bool output_since_line;  // stdout has moved since the last line went
  bool halted;             // the wrapper was asked to stop: no line goes after this one
  int64_t due;             // the next step, on clock_ms; 1: at once; 0: none
  int64_t pause;           // the last pause between looks
};
script_state script;

// Takes more commands into the buffer, once the client has taken all it held. True when
// some came.
bool fill() {
  if (script.source_ended) return false;
  bool ended = false;
  script.start = 0;
  script.end = read_commands(script.buffer, buffer_size, &ended);
  script.source_ended = ended;
  return script.end > 0;
}

// Counts the lines in bytes[0, length): each line that starts there, whole or not.
size_t count_lines(const char* bytes, size_t length, bool* at_line_start) {
  size_t lines = 0;
  for (size_t at = 0; at < length;) {
    if (*at_line_start) ++lines;
    const char* feed = static_cast<const char*>(memchr(bytes + at, '\n', length - at));
    *at_line_start = feed != nullptr;
    at = feed != nullptr ? static_cast<size_t>(feed - bytes) + 1 : length;
  }
  return lines;
}

// Counts the lines the client did not get: those read and the ones the source holds now,
// without waiting for more. Inside a line, its rest is no line of its own.
void count_rest(bool inside_line) {
  if (script.counted) return;
  script.counted = true;
  bool at_line_start = !inside_line;
  script.not_sent = count_lines(script.buffer + script.start, script.end - script.start, &at_line_start);
  for (size_t held = commands_held(); held > 0;) {
    bool ended = false;
    size_t count = read_commands(script.buffer, held < size_t{buffer_size} ? held : size_t{buffer_size}, &ended);
    if (count == 0) break;
    script.not_sent += count_lines(script.buffer, count, &at_line_start);
    held -= count;
  }
  script.start = script.end = 0;
}

void close_input() {
  close_commands();
  script.phase = script_closed;
  script.due = 0;
}

// The next look, a pause later: longer each time the client is still at work.
void look_later() {
  script.pause = script.pause == 0 ? 1 : script.pause * 2;
  if (script.pause > longest_pause_ms) script.pause = longest_pause_ms;
  script.due = clock_ms() + script.pause;
}

// Offers the client the rest of the line on its way. True once the whole line has gone,
// or the client no longer reads; false while its input or the source holds it up.
bool hand_line() {
  for (;;) {
    const char* from = script.buffer + script.start;
    size_t length = script.end - script.start;
    const char* feed = static_cast<const char*>(memchr(from, '\n', length));
    size_t piece = feed != nullptr ? static_cast<size_t>(feed - from) + 1 : length;
    if (piece > 0) {
      size_t taken = 0;
      if (!write_commands(from, piece, &taken)) {
        close_input();
        return true;
      }
      script.start += taken;
      if (taken < piece) return false;
      if (feed != nullptr) break;
    }
    // A line longer than the buffer goes in pieces; the last one may lack its line feed.
    if (!fill() && !script.source_ended) return false;
    if (script.start == script.end && script.source_ended) break;
  }
  script.phase = script_between;
  // Every line handed over: the client reads the end after the last, as from a file.
  if (script.start == script.end) fill();
  if (script.start == script.end && script.source_ended) close_input();
  return true;
}

// The client waits, and all it printed before has been scanned: its next line, the end of
// its input, or the stop.
void hand_next_line() {
  if (exit_status != status_no_sign) {
    script.stopped = true;
    script.stopped_at = script.lines_sent;
    close_input();
    count_rest(false);
    return;
  }
  if (script.start == script.end && !fill()) {
    if (script.source_ended)
      close_input();
    else
      look_later();  // the source has nothing yet
    return;
  }
  record_script_line(++script.lines_sent);
  script.output_since_line = false;
  script.phase = script_in_line;
  script.pause = 0;
  if (!hand_line() || script.phase == script_between) look_later();
}

// "veskar: stopped after the first failure, at line 2 of the commands; 3 lines not sent"
void say_stop() {
  char line[160];
  size_t used = 0;
  auto put = [&](const char* text) {
    size_t size = strlen(text);
    memcpy(line + used, text, size);
    used += size;
  };
  put("veskar: stopped after the first failure, ");
  if (script.stopped_at == 0) {
    put("before line 1");
  } else {
    put("at line ");
    used += text_decimal(script.stopped_at, line + used);
  }
  put(" of the commands; ");
  used += text_decimal(script.not_sent, line + used);
  put(script.not_sent == 1 ? " line not sent\n" : " lines not sent\n");
  write_handle(saved_stderr, line, used);
}

}  // namespace

const char* prepare_script(int count, const os_char* const* arguments) {
  if (!stop_on_failure) return nullptr;
  commands_route route = open_commands(count, arguments);
  if (route == commands_typed) {
    static const char note[] =
        "veskar: VESKAR_ON_FAILURE=stop does nothing: the commands come from a terminal\n";
    write_handle(saved_stderr, note, sizeof note - 1);
    return nullptr;
  }
  if (route == commands_unrouted) return "VESKAR_ON_FAILURE=stop cannot set up the client's input";
  if (const char* problem = waiting_unseen()) return problem;
  script.phase = script_between;
  record_script_line(0);
  start_prompt_line();
  pump_watch_reads();
  return nullptr;
}

const char* start_script() {
  if (script.phase == script_off) return nullptr;
  const char* problem = start_commands();
  if (problem != nullptr) stop_client();
  // A client may wait for its first line before it prints a byte: the first look at once.
  script.due = 1;
  return problem;
}

void halt_script() {
  if (script.phase == script_off || script.phase == script_closed) return;
  script.halted = true;
  script.due = 1;
}

bool script_running() { return script.phase != script_off; }

void script_saw_output(int stream, const char* bytes, size_t length) {
  if (script.phase == script_off) return;
  if (stream == output_stream && length > 0) {
    if (waiting_shown_by_prompt) note_prompt_output(bytes, length);
    script.output_since_line = true;
  }
  // The client printed, or what it printed has all been read: it may wait by now, so the
  // next look comes at once.
  if (script.phase == script_between) {
    script.due = 1;
    script.pause = 0;
  }
}

int64_t script_due() { return script.due; }

void script_step() {
  script.due = 0;
  if (script.phase == script_in_line && !hand_line()) {
    look_later();
    return;
  }
  if (script.phase != script_between) return;
  if (script.halted) {
    close_input();
    return;
  }
  bool prompt = waiting_shown_by_prompt && script.output_since_line && prompt_shown();
  if (client_waits(prompt))
    hand_next_line();
  else if (!waiting_shown_by_prompt || prompt)
    look_later();  // the system tells only when asked; a reader may just be between reads
}

void end_script() {
  if (script.phase == script_off) return;
  bool inside_line = script.phase == script_in_line;
  if (script.phase != script_closed) close_input();
  count_rest(inside_line);
  record_script(script.lines_sent, script.not_sent, script.stopped, script.stopped_at);
  if (script.stopped && script.not_sent > 0) say_stop();
  script.phase = script_off;
}
