// The watchdog's rules on a fake clock: each row is a client's story in milliseconds,
// and the fake wait moves the clock to the first thing the pump would wake for.
#include <gtest/gtest.h>

#include <vector>

#include "watchdog.h"

namespace {

const int64_t never = INT64_MAX / 4;

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
};

const story stories[] = {
    {"off: no timeout, the client never looked at", 0, {100}, {}, true, 50000, 10, 0, never, 50000, -1},
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
};

struct {
  const story* s;
  int64_t now;
  int64_t stalled_at;
  std::vector<int> waits;
  bool watched_after_end;
} fake;

unsigned long count_by(const std::vector<int64_t>& times, int64_t t) {
  unsigned long n = 0;
  while (n < times.size() && times[n] <= t) ++n;
  return n;
}

int64_t fake_clock() { return fake.now; }

pump_news fake_wait(int ms, bool watch_client) {
  const story& s = *fake.s;
  fake.waits.push_back(ms);
  if (watch_client && (fake.now >= s.client_ends || fake.stalled_at != never))
    fake.watched_after_end = true;
  int64_t wake = ms < 0 ? never : fake.now + ms;
  for (int64_t t : s.reads)
    if (t > fake.now) {
      wake = std::min(wake, t);
      break;
    }
  if (s.pipes_end > fake.now) wake = std::min(wake, s.pipes_end);
  if (watch_client && s.client_ends > fake.now) wake = std::min(wake, s.client_ends);
  EXPECT_LT(wake, never) << "a wait for ever";
  fake.now = wake;
  // Each stream's end mark is a call to the sink too.
  unsigned long reads = count_by(s.reads, fake.now) + (fake.now >= s.pipes_end ? 2 : 0);
  return {reads, fake.now >= s.pipes_end, watch_client && fake.now >= s.client_ends};
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

const watch_calls fake_calls = {fake_clock, fake_wait, fake_counters};

TEST(Watchdog, Rules) {
  for (const story& s : stories) {
    fake.s = &s;
    fake.now = 0;
    fake.stalled_at = never;
    fake.waits.clear();
    fake.watched_after_end = false;
    watch_relay(&fake_calls, s.idle_seconds, fake_stop);
    EXPECT_EQ(fake.stalled_at, s.stalled_at) << s.rule;
    EXPECT_EQ(fake.now, s.over_at) << s.rule;
    if (s.waits >= 0) {
      EXPECT_EQ(static_cast<int>(fake.waits.size()), s.waits) << s.rule;
    }
    EXPECT_FALSE(fake.watched_after_end) << s.rule;
    for (int ms : fake.waits) {
      if (s.idle_seconds == 0) {
        EXPECT_EQ(ms, -1) << s.rule;
      } else {
        EXPECT_TRUE(ms >= 0 && ms <= drain_seconds * 1000) << s.rule << ": a wait of " << ms;
      }
    }
  }
}

}  // namespace
