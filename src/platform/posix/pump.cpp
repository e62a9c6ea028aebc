// POSIX: the relay pump: both pipes read in bursts, the stop signals' wake-up and the
// client's end watched by one poll.
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

// A pipe's worth of reads: the default pipe holds 16 pages.
enum { burst_reads = 16 };

// The relay's state between start_pump and end_pump.
struct pump_state {
  stream_sink sink;
  // The two pipes (-1 once ended), the client's end, the stop signals' wake-up.
  struct pollfd polled[4];
  // ready[s]: a read of stream s will not block (nonblocking) or poll said it has data.
  bool ready[2];
  bool nonblocking;
  int open_count;
  int reads_since_poll;
  unsigned long reads;
  int end_fd;  // client_end_descriptor(), once asked for
  int stop_told;  // the stop request the last news carried
};
pump_state pump;
char burst[burst_reads][chunk_size];

// Reads stream s, a burst at most, and hands the reads on.
void read_burst(int s) {
  // A burst: what the pipe holds now, read before any of it is shown. While the relay
  // lags a busy client, the client then wakes once a burst instead of once a read,
  // since each read of a full pipe wakes its writer. Reading ahead shows nowhere: the
  // reads still reach the sink in order, one at a time.
  size_t lengths[burst_reads];
  int taken = 0;
  bool ended = false;
  while (taken < burst_reads) {
    ssize_t count = read(pump.polled[s].fd, burst[taken], chunk_size);
    if (count > 0) {
      lengths[taken++] = static_cast<size_t>(count);
      ++pump.reads_since_poll;
      // A blocking read end may be read again only once poll has said so.
      if (!pump.nonblocking) break;
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    ended = !(count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));  // or drained
    break;
  }
  pump.ready[s] = pump.nonblocking && taken == burst_reads;
  for (int k = 0; k < taken; ++k) pump.sink(s, burst[k], lengths[k]);
  pump.reads += static_cast<unsigned long>(taken);
  if (ended) {
    pump.polled[s].fd = -1;  // poll skips negative descriptors
    --pump.open_count;
    pump.sink(s, nullptr, 0);
    ++pump.reads;
  }
}

// Polls the open pipes, the stop signals' wake-up, and the client's end when `end` is
// its descriptor, for up to `timeout` ms. True when the client has ended.
bool poll_pipes(int timeout, int end) {
  pump.reads_since_poll = 0;
  pump.polled[2] = {end, POLLIN, 0};
  int polled = poll(pump.polled, 4, timeout);
  char wake_ups[64];
  if (polled > 0 && pump.polled[3].revents != 0)
    while (read(stop_pipe[0], wake_ups, sizeof wake_ups) > 0) {
    }
  if (polled < 0 && errno != EINTR && errno != EAGAIN) {
    // Cannot wait any more: read both in turn, blocking, so nothing is lost and
    // nothing spins.
    pump.nonblocking = false;
    for (int s = 0; s < 2; ++s) {
      int fd = pump.polled[s].fd;
      if (fd >= 0) set_nonblocking(fd, false);
      pump.ready[s] = fd >= 0;
    }
    return false;
  }
  for (int s = 0; s < 2; ++s)
    if (polled > 0 && pump.polled[s].fd >= 0 && pump.polled[s].revents != 0) pump.ready[s] = true;
  return polled > 0 && end >= 0 && pump.polled[2].revents != 0;
}

}  // namespace

void start_pump(os_handle output_read, os_handle error_read, stream_sink sink) {
  pump.sink = sink;
  pump.polled[0] = {descriptor(output_read), POLLIN, 0};
  pump.polled[1] = {descriptor(error_read), POLLIN, 0};
  pump.polled[2] = {-1, POLLIN, 0};
  pump.polled[3] = {stop_pipe[0], POLLIN, 0};
  // The read ends are the wrapper's own, so making them nonblocking touches no one
  // else. A stream is then read until it is empty before the relay waits again: one
  // poll per burst of output instead of one per read.
  pump.nonblocking = true;
  for (int s = 0; s < 2; ++s)
    if (!set_nonblocking(pump.polled[s].fd, true)) pump.nonblocking = false;
  pump.ready[0] = pump.ready[1] = pump.nonblocking;
  pump.open_count = 2;
  pump.reads_since_poll = 0;
  pump.reads = 0;
  pump.end_fd = not_opened;
  pump.stop_told = 0;
}

pump_news pump_wait(int ms, bool watch_client) {
  int64_t until = ms < 0 ? 0 : clock_ms() + ms;
  unsigned long reads_before = pump.reads;
  if (watch_client && pump.end_fd == not_opened) pump.end_fd = client_end_descriptor();
  int end = watch_client ? pump.end_fd : -1;
  bool client_gone = false;
  for (;;) {
    bool idle = !pump.ready[0] && !pump.ready[1];
    // While one stream streams, the other is looked at every few reads all the same,
    // so that it waits at most about one pipe's worth of the first.
    if (idle || pump.reads_since_poll >= burst_reads) {
      // What came is handed on: the caller looks before anything more is waited for.
      if (pump.reads != reads_before || client_gone || stop_received != pump.stop_told) break;
      if (pump.open_count == 0 && !watch_client) break;
      // No timeout when both are drained and none is asked for: an idle client costs
      // nothing until one of its pipes moves.
      int timeout = idle ? -1 : 0;
      if (idle && ms >= 0) {
        int64_t left = until - clock_ms();
        if (left <= 0) break;
        timeout = static_cast<int>(left);
      }
      // Without a process descriptor, the client's end is looked for once a second.
      if (watch_client && end < 0 && (timeout < 0 || timeout > 1000)) {
        if (reap_client(WNOHANG)) break;
        timeout = 1000;
      }
      client_gone = poll_pipes(timeout, end);
    }
    // The streams take turns, one burst each, so neither waits behind the other.
    for (int s = 0; s < 2; ++s)
      if (pump.ready[s]) read_burst(s);
  }
  // Without a process descriptor, the client's end is looked for as the wait ends.
  bool client_ended = watch_client && (end < 0 || client_gone) && reap_client(WNOHANG);
  // Read after the reaping: a signal sent to the client and the wrapper at once has come
  // by the time the client can be reaped.
  pump.stop_told = stop_received;
  return {pump.reads, pump.open_count == 0, client_ended, pump.stop_told};
}

bool pump_holds_output() {
  struct pollfd pipes[2] = {pump.polled[0], pump.polled[1]};
  if (poll(pipes, 2, 0) <= 0) return false;
  // POLLIN: bytes; a pipe whose writers have all gone and that holds none says POLLHUP.
  return (pipes[0].revents & POLLIN) != 0 || (pipes[1].revents & POLLIN) != 0;
}

void end_pump() {
  for (int s = 0; s < 2; ++s)
    if (pump.polled[s].fd >= 0) pump.sink(s, nullptr, 0);
  if (pump.end_fd >= 0) close(pump.end_fd);
}

void pump_watch_reads() {}
