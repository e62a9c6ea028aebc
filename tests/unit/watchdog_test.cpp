// The watchdog's rules on a fake clock: each row is a client's story in milliseconds,
// and the fake wait moves the clock to the first thing the pump would wake for.
#include <gtest/gtest.h>

#include <vector>

#include "run/watchdog.h"

namespace {

const int64_t never = INT64_MAX / 4;
const int64_t with_client = -1;  // pipes that end when the client ends

struct story {
  const char* rule;
  unsigned idle_seconds;
  std::vector<int64_t> reads;  // when reads are handed on, in order
  std::vector<int64_t> moves;  // when the client's counters change, in order
  bool counted;                // whether the system keeps the counters
  int64_t pipes_end;
  int64_t client_ends;
  int64_t stop_takes;  // how long stalled() takes
  int64_t stalled_at;  // what must come of it: never for no stall
  int64_t over_at;     // when watch_relay returns
  int waits;           // how many waits it makes; -1: not counted
  // A request to stop the wrapper (signal 15): when it comes, how long the client takes
  // to end once it is passed on (never: it ignores it), and when it must be killed.
  int64_t stop_at = never;
  int64_t ends_after_stop = never;
  int64_t killed_at = never;
  // Under load: the first read's bytes wait in the pipe from then until it is handed on.
  int64_t waiting_from = never;
};

const story stories[] = {
    {"off: no timeout, the client looked at once the pipes have ended", 0, {100}, {}, true, 50000, 10, 0,
     never, 50000, -1},
    {"off: a client that outlives its pipes is waited for", 0, {100}, {}, true, 500, 3000, 0, never, 3000,
     3},
    {"quiet: stalled after idle_seconds, drained 2 s from the stop's return", 2, {}, {}, true, never,
     never, 3000, 2000, 7000, 3},
    {"quiet for long: one wake-up a second", 600, {}, {}, true, never, never, 0, 600000, 602000, 601},
    {"a read is activity", 2, {1500, 3200}, {}, true, never, never, 0, 5200, 7200, -1},
    {"moving counters are activity", 2, {}, {1000, 2000, 3000}, true, never, never, 0, 5000, 7000, -1},
    {"without counters only output counts", 2, {}, {1000, 2000, 3000}, false, never, never, 0, 2000, 4000,
     -1},
    {"the client's end decides, output or not; the pipes drained 2 s", 1,
     {1000, 1100, 1200, 1300, 1400, 1500, 2000, 2500, 3000, 3500, 4000}, {}, true, never, 1000, 0, never,
     3000, -1},
    {"the drain ends with the pipes", 2, {}, {}, true, 1500, 1000, 0, never, 1500, -1},
    {"a client without its pipes is still watched", 2, {}, {}, true, 500, never, 0, 2500, 2500, -1},
    {"a client without its pipes ends: its end", 2, {}, {}, true, 500, 1800, 0, never, 1800, -1},
    {"a stop: passed on at once, relayed until the pipes end", 0, {}, {}, true, with_client, never, 0,
     never, 1200, -1, 1000, 200},
    {"a stop the client ignores: drained 2 s, the client killed 3 s after it", 0, {}, {}, true,
     with_client, never, 0, never, 4000, -1, 1000, never, 4000},
    {"a client ended by the same signal first: the stop all the same, no kill", 2, {}, {}, true,
     with_client, 1000, 0, never, 1000, -1, 1000},
    {"a stop while a process the client left holds the pipes: drained 2 s", 0, {}, {}, true, never, 100,
     0, never, 7000, -1, 5000},
    {"a stop before the stall: no stall", 2, {}, {}, true, with_client, never, 0, never, 1510, -1, 1500,
     10},
    {"bytes waiting unread at the deadline are activity", 1, {1500}, {}, true, never, never, 0, 2500, 4500,
     -1, never, never, never, 900},
};

struct {
  const story* s;
  int64_t now;
  int64_t client_ends;
  int64_t stalled_at;
  int64_t passed_at;
  int64_t killed_at;
  std::vector<std::pair<int64_t, int>> waits;  // when, and for how long
  bool told_ended;
  bool watched_after_end;
} fake;

int64_t pipes_end() { return fake.s->pipes_end == with_client ? fake.client_ends : fake.s->pipes_end; }

unsigned long count_by(const std::vector<int64_t>& times, int64_t t) {
  unsigned long n = 0;
  while (n < times.size() && times[n] <= t) ++n;
  return n;
}

int64_t fake_clock() { return fake.now; }

pump_news fake_wait(int ms, bool watch_client) {
  const story& s = *fake.s;
  fake.waits.push_back({fake.now, ms});
  if (watch_client && (fake.told_ended || fake.stalled_at != never)) fake.watched_after_end = true;
  int64_t wake = ms < 0 ? never : fake.now + ms;
  for (int64_t t : s.reads)
    if (t > fake.now) {
      wake = std::min(wake, t);
      break;
    }
  if (pipes_end() > fake.now) wake = std::min(wake, pipes_end());
  if (watch_client) wake = std::min(wake, std::max(fake.now, fake.client_ends));
  if (s.stop_at > fake.now) wake = std::min(wake, s.stop_at);
  EXPECT_LT(wake, never) << "a wait for ever";
  fake.now = wake;
  // Each stream's end mark is a call to the sink too.
  unsigned long reads = count_by(s.reads, fake.now) + (fake.now >= pipes_end() ? 2 : 0);
  bool ended = watch_client && fake.now >= fake.client_ends;
  fake.told_ended = fake.told_ended || ended;
  return {reads, fake.now >= pipes_end(), ended, fake.now >= s.stop_at ? 15 : 0};
}

bool fake_counters(uint64_t moved[2]) {
  moved[0] = count_by(fake.s->moves, fake.now);
  moved[1] = 0;
  return fake.s->counted;
}

void fake_stop() {
  EXPECT_EQ(fake.stalled_at, never) << "stalled twice";
  fake.stalled_at = fake.now;
  fake.now += fake.s->stop_takes;
}

// The timed hook's runs and the times it is due at (below).
std::vector<int64_t> hook_runs;
std::vector<int64_t> hook_times;
bool hook_due_at_stop = false;  // passing the stop on makes the hook due at once

void fake_pass(int stop) {
  if (hook_due_at_stop) hook_times.push_back(fake.now);
  EXPECT_EQ(stop, 15);
  EXPECT_EQ(fake.passed_at, never) << "passed twice";
  fake.passed_at = fake.now;
  if (fake.s->ends_after_stop != never)
    fake.client_ends = std::min(fake.client_ends, fake.now + fake.s->ends_after_stop);
}

bool fake_await(int ms) {
  EXPECT_GE(ms, 0);
  if (fake.client_ends > fake.now + ms) {
    fake.now += ms;
    return false;
  }
  fake.now = std::max(fake.now, fake.client_ends);
  return true;
}

void fake_kill() {
  EXPECT_EQ(fake.killed_at, never) << "killed twice";
  fake.killed_at = fake.now;
  fake.client_ends = std::min(fake.client_ends, fake.now);
}

bool fake_holds() {
  const story& s = *fake.s;
  return fake.now >= s.waiting_from && (s.reads.empty() || fake.now < s.reads[0]);
}

const watch_calls fake_calls = {fake_clock, fake_wait, fake_counters, fake_pass, fake_await, fake_kill,
                                fake_holds};

TEST(Watchdog, Rules) {
  for (const story& s : stories) {
    fake.s = &s;
    fake.now = 0;
    fake.client_ends = s.client_ends;
    fake.stalled_at = fake.passed_at = fake.killed_at = never;
    fake.waits.clear();
    fake.told_ended = fake.watched_after_end = false;
    int stop = watch_relay(&fake_calls, s.idle_seconds, fake_stop, nullptr, 0);
    EXPECT_EQ(fake.stalled_at, s.stalled_at) << s.rule;
    EXPECT_EQ(fake.now, s.over_at) << s.rule;
    EXPECT_EQ(stop, s.stop_at != never ? 15 : 0) << s.rule;
    EXPECT_EQ(fake.passed_at, s.stop_at) << s.rule;
    EXPECT_EQ(fake.killed_at, s.killed_at) << s.rule;
    if (s.waits >= 0) {
      EXPECT_EQ(static_cast<int>(fake.waits.size()), s.waits) << s.rule;
    }
    EXPECT_FALSE(fake.watched_after_end) << s.rule;
    // Off, no wait has a limit until a stop; otherwise none lasts longer than a drain.
    for (auto [when, ms] : fake.waits) {
      if (s.idle_seconds == 0 && when < s.stop_at) {
        EXPECT_EQ(ms, -1) << s.rule;
      } else {
        EXPECT_TRUE(ms >= 0 && ms <= drain_seconds * 1000) << s.rule << ": a wait of " << ms;
      }
    }
  }
}

// Timed hooks: each runs once it is due, and the waits end no later than that; the
// relay's own rules go on around them.
int64_t hook_due() { return hook_runs.size() < hook_times.size() ? hook_times[hook_runs.size()] : 0; }
void hook_run() {
  // A stop that came with the wake-up is passed on first: the script's next line must see it.
  if (fake.now >= fake.s->stop_at) {
    EXPECT_EQ(fake.passed_at, fake.s->stop_at) << "a hook ran before the stop";
  }
  hook_runs.push_back(fake.now);
}
int64_t never_due() { return 0; }
void never_run() { ADD_FAILURE() << "a hook that was never due ran"; }

void start_story(const story* s, std::vector<int64_t> times) {
  fake.s = s;
  fake.now = 0;
  fake.client_ends = s->client_ends;
  fake.stalled_at = fake.passed_at = fake.killed_at = never;
  fake.waits.clear();
  fake.told_ended = fake.watched_after_end = false;
  hook_runs.clear();
  hook_times = times;
}

TEST(Watchdog, HooksRunWhenDue) {
  const story quiet = {"hooks", 0, {}, {}, true, 4000, 3000, 0, never, 4000, -1};
  start_story(&quiet, {500, 1500, 1501});
  const timed_hook hooks[] = {{never_due, never_run}, {hook_due, hook_run}};
  EXPECT_EQ(watch_relay(&fake_calls, 0, fake_stop, hooks, 2), 0);
  EXPECT_EQ(hook_runs, hook_times);
  EXPECT_EQ(fake.now, 4000);
  // Nothing left due: the last wait has no limit.
  ASSERT_FALSE(fake.waits.empty());
  EXPECT_EQ(fake.waits.back().second, -1);
  // A hook due in the wake-up that brings a stop.
  const story stopped = {"hooks", 0, {}, {}, true, with_client, never, 0, never, 1700, -1, 1500, 200};
  start_story(&stopped, {1500});
  EXPECT_EQ(watch_relay(&fake_calls, 0, fake_stop, hooks, 2), 15);
  EXPECT_EQ(hook_runs, hook_times);
  // A hook that the stop makes due runs at once, not at the next wake-up.
  start_story(&stopped, {});
  hook_due_at_stop = true;
  watch_relay(&fake_calls, 0, fake_stop, hooks, 2);
  hook_due_at_stop = false;
  EXPECT_EQ(hook_runs, std::vector<int64_t>{1500});
}

}  // namespace
