#include "run/watchdog.h"

const watch_calls system_watch_calls = {clock_ms,     pump_wait,   client_counters, pass_stop,
                                        await_client, kill_client, pump_holds_output};

namespace {

enum watch_phase {
  watch_off,       // no idle timeout
  watch_watching,  // the client runs and may be quiet for up to quiet_limit
  watch_stalled,   // stalled() was called: the drain starts once it has returned
  watch_draining,  // after the stall, the client's end or a stop, until drain_end
};

// One relay's watchdog, in milliseconds of clock_ms.
struct watchdog {
  watch_phase phase;
  int64_t quiet_limit;
  int64_t last_activity;
  int64_t next_look;  // when the client's counters are looked at next
  int64_t drain_end;
  unsigned long reads;  // the reads handed on, and the client's counters,
  uint64_t moved[2];    // when last looked at
  int stop;             // the request to stop, once passed on, and when
  int64_t stop_at;
};

// What look() returns instead of the time the next wait may take.
enum { no_limit = -1, stall_now = -2, relay_over = -3 };

void start_drain(watchdog* watch, int64_t now) {
  watch->phase = watch_draining;
  watch->drain_end = now + drain_seconds * 1000;
}

// Passes a stop request on, once, whatever the phase: what the client prints as it ends
// comes before the report. True when it did now.
bool take_stop(watchdog* watch, const watch_calls* calls, int stop, int64_t now) {
  if (stop == 0 || watch->stop != 0) return false;
  calls->pass_stop(stop);
  watch->stop = stop;
  watch->stop_at = now;
  start_drain(watch, now);
  return true;
}

// Takes what the pump has seen by `now`: how long the next wait may last, or what to
// do instead.
int look(watchdog* watch, const watch_calls* calls, const pump_news& news, int64_t now) {
  if (watch->phase == watch_off) return news.pipes_ended && news.client_ended ? relay_over : no_limit;
  // Stopping the client may have taken seconds: the drain counts from its return.
  if (watch->phase == watch_stalled) start_drain(watch, now);
  // Its own end decides: a quiet process it left holding the pipes is no stall of its.
  if (watch->phase == watch_watching && news.client_ended) start_drain(watch, now);
  if (watch->phase == watch_draining) {
    if (news.pipes_ended || now >= watch->drain_end) return relay_over;
    return static_cast<int>(watch->drain_end - now);
  }
  if (news.reads != watch->reads) watch->last_activity = now;
  watch->reads = news.reads;
  if (now >= watch->next_look) {
    // A transfer that prints nothing still moves bytes. Where the system keeps no
    // counts, only output counts.
    uint64_t moved[2] = {0, 0};
    if (calls->counters(moved) && (moved[0] != watch->moved[0] || moved[1] != watch->moved[1]))
      watch->last_activity = now;
    watch->moved[0] = moved[0];
    watch->moved[1] = moved[1];
    watch->next_look = now + look_ms;
  }
  // Bytes that came but wait unread are activity too, looked for only at the deadline.
  if (now >= watch->last_activity + watch->quiet_limit && calls->holds_output())
    watch->last_activity = now;
  int64_t deadline = watch->last_activity + watch->quiet_limit;
  if (now >= deadline) {
    watch->phase = watch_stalled;
    return stall_now;
  }
  return static_cast<int>((watch->next_look < deadline ? watch->next_look : deadline) - now);
}

// The earliest time a hook is due; 0 when none is.
int64_t earliest(const timed_hook* hooks, size_t count) {
  int64_t first = 0;
  for (size_t h = 0; h < count; ++h) {
    int64_t due = hooks[h].due();
    if (due != 0 && (first == 0 || due < first)) first = due;
  }
  return first;
}

}  // namespace

int watch_relay(const watch_calls* calls, unsigned idle_seconds, stall_handler stalled,
                const timed_hook* hooks, size_t count) {
  watchdog watch = {idle_seconds > 0 ? watch_watching : watch_off, 0, 0, 0, 0, 0, {0, 0}, 0, 0};
  if (watch.phase == watch_watching) {
    watch.quiet_limit = static_cast<int64_t>(idle_seconds) * 1000;
    watch.last_activity = watch.next_look = calls->clock_ms();
  }
  pump_news news = {0, false, false, 0};
  for (;;) {
    int64_t due = earliest(hooks, count);
    // Off and with nothing due, the clock is never read: an idle relay costs nothing until
    // a pipe moves.
    bool timed = watch.phase != watch_off || news.stop != 0 || due != 0;
    int64_t now = timed ? calls->clock_ms() : 0;
    // Before the hooks, so that none acts as if no stop had come (a line to the client);
    // passing it on may make one due.
    if (take_stop(&watch, calls, news.stop, now)) due = earliest(hooks, count);
    if (due != 0 && now >= due) {
      for (size_t h = 0; h < count; ++h) {
        int64_t at = hooks[h].due();
        if (at != 0 && now >= at) hooks[h].run();
      }
      due = earliest(hooks, count);
    }
    int wait = look(&watch, calls, news, now);
    if (wait == relay_over) break;
    if (wait == stall_now) {
      stalled();
      continue;
    }
    if (due != 0 && (wait < 0 || due - now < wait)) wait = due > now ? static_cast<int>(due - now) : 0;
    // Off, the client is waited for once its pipes have ended.
    bool watch_client = watch.phase == watch_watching || (watch.phase == watch_off && news.pipes_ended);
    news = calls->wait(wait, watch_client);
  }
  if (watch.stop != 0) {
    int64_t left = watch.stop_at + stop_grace_seconds * 1000 - calls->clock_ms();
    if (!calls->await_client(left > 0 ? static_cast<int>(left) : 0)) {
      calls->kill_client();
      // Even SIGKILL waits for a process stuck in the kernel: not for ever.
      calls->await_client(stop_grace_seconds * 1000);
    }
  }
  return watch.stop;
}
