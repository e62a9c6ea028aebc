// The watchdog of VESKAR_IDLE_TIMEOUT: what counts as the client's activity, when it has
// stalled, and how long the pipes are drained after its stall or its end; and what
// happens when the wrapper is asked to stop. The rules make no system call of their
// own: the platform's come through watch_calls.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

// The platform calls the watchdog makes: the system's in the program, fakes in tests.
struct watch_calls {
  int64_t (*clock_ms)();
  pump_news (*wait)(int ms, bool watch_client);
  bool (*counters)(uint64_t moved[2]);
  void (*pass_stop)(int stop);
  bool (*await_client)(int ms);
  void (*kill_client)();
  bool (*holds_output)();
};
// clock_ms, pump_wait, client_counters, pass_stop, await_client, kill_client,
// pump_holds_output
extern const watch_calls system_watch_calls;

// Called once when the client has gone quiet for its idle time, never beside a call to
// the sink: it stops the client and reports the stall.
typedef void (*stall_handler)();

enum { drain_seconds = 2, look_ms = 1000 };

// Work the relay does at a time of its own, between waits: held reports, the client's
// next command. `due`: when it is due next, on clock_ms, or 0 for not at all; once it
// has run, it is due later or not at all.
struct timed_hook {
  int64_t (*due)();
  void (*run)();
};

// Relays between start_pump and end_pump, through `calls`, until both pipes have ended
// and the client has ended. With idle_seconds 0 it waits with no timeout, and looks at
// the client only once the pipes have ended. Otherwise it watches the client: activity
// is a read handed on, or a change in the bytes its reads and writes moved, looked at
// about once a second, or, when idle_seconds have passed with none, bytes still waiting
// to be handed on (a loaded machine may have left them). With none, it calls `stalled`. Once the
// client has ended, its end decides and it is never stalled. After either, the relay
// goes on until both pipes have ended or drain_seconds have passed, so that a process
// holding a pipe cannot keep it. While the client is quiet it wakes at most once a
// second.
// A request to stop the wrapper, whenever it comes, is passed on to the client at once;
// what the client prints as it ends is relayed until the pipes end, for drain_seconds
// at most. A client still there stop_grace_seconds after the request is killed, and
// waited for as long again at most. Returns the request, or 0 when none came.
// Each of the `count` hooks runs whenever it is due, never beside a call to the sink.
int watch_relay(const watch_calls* calls, unsigned idle_seconds, stall_handler stalled,
                const timed_hook* hooks, size_t count);
