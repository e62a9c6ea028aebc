// POSIX stand-ins for the wrapper's operating-system operations.
#include "platform.h"

#include "command_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

const os_handle no_handle = -1;

namespace {

// The descriptors a client started now gets as its standard output and error: the
// POSIX stand-in for the process's standard handles, which on POSIX belong to the
// wrapper itself and must stay its own.
os_handle client_std[2] = {STDOUT_FILENO, STDERR_FILENO};

// Signals the wrapper ignores for itself but that a client must get as it would
// without the wrapper: those that were at their default when the wrapper started.
sigset_t client_default_signals;

// Room for the client's argument words, as split_command_line needs it.
char argument_area[command_line_size];
char* argument_words[command_line_words + 1];

// The client create_process started, for stop_client and the I/O counters, and how it
// ended once it has been reaped.
pid_t client_pid = -1;
bool client_reaped = false;
client_end client_result = {ended_unknown, 0};

int descriptor(os_handle handle) { return static_cast<int>(handle); }

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

int64_t now_ms() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The watchdog of one pump_pipes, on the monotonic clock in milliseconds.
enum watch_phase { watch_off, watch_watching, watch_draining };
struct watchdog {
  watch_phase phase;
  int64_t quiet_limit;    // watching: how long the client may be quiet
  int64_t last_activity;  // watching: when it last was not
  int64_t next_sample;    // watching: when its I/O counters are next looked at
  int64_t drain_end;      // draining: when to stop reading
  int counters_fd;               // the client's /proc/PID/io (Linux), or -1
  unsigned long long moved[2];  // its rchar and wchar when last read
};

enum { sample_ms = 1000 };

// The number after `name` at a line's start in `text`, or 0.
unsigned long long count_after(const char* text, const char* name) {
  size_t size = strlen(name);
  for (const char* line = text; line != nullptr; line = strchr(line, '\n')) {
    if (*line == '\n') ++line;
    if (strncmp(line, name, size) == 0) return strtoull(line + size, nullptr, 10);
  }
  return 0;
}

// Reads the bytes the client's reads and writes have moved; true when they changed
// since the last read. A transfer that prints nothing still moves bytes, and shows
// here. Calls (syscr, syscw) do not count: a read that a signal restarts, as tnftp's
// once-a-second SIGALRM does in a stalled download, is counted again with no byte moved.
bool counters_moved(watchdog* watch) {
  if (watch->counters_fd < 0) return false;
  char text[512];
  ssize_t length = pread(watch->counters_fd, text, sizeof text - 1, 0);
  if (length <= 0) return false;
  text[length] = '\0';
  unsigned long long now[2] = {count_after(text, "rchar: "), count_after(text, "wchar: ")};
  bool moved = now[0] != watch->moved[0] || now[1] != watch->moved[1];
  watch->moved[0] = now[0];
  watch->moved[1] = now[1];
  return moved;
}

void start_watch(watchdog* watch, unsigned idle_seconds) {
  watch->phase = idle_seconds > 0 ? watch_watching : watch_off;
  watch->counters_fd = -1;
  watch->moved[0] = watch->moved[1] = 0;
  if (watch->phase == watch_off) return;
  watch->quiet_limit = static_cast<int64_t>(idle_seconds) * 1000;
  watch->last_activity = now_ms();
  // Where the system keeps no counters, nothing needs looking at before the deadline.
  watch->next_sample = INT64_MAX;
  char path[64];
  snprintf(path, sizeof path, "/proc/%ld/io", static_cast<long>(client_pid));
  if (client_pid > 0) watch->counters_fd = open(path, O_RDONLY | O_CLOEXEC);
  if (watch->counters_fd >= 0) {
    counters_moved(watch);
    watch->next_sample = watch->last_activity + sample_ms;
  }
}

// Before a wait for the pipes while the watchdog is on. `woke`: the last wait while
// both pipes were drained ended with something on a pipe. Returns how long the wait may
// last in milliseconds, or -2 when it must not wait: the client stalled (watching) or
// the drain is over (draining).
int watch_wait(watchdog* watch, bool idle, bool woke) {
  int64_t now = now_ms();
  if (watch->phase == watch_watching) {
    if (!idle) return 0;
    if (woke) watch->last_activity = now;
    if (now >= watch->next_sample) {
      if (counters_moved(watch)) watch->last_activity = now;
      watch->next_sample = now + sample_ms;
    }
    int64_t deadline = watch->last_activity + watch->quiet_limit;
    if (now >= deadline) return -2;
    return static_cast<int>((watch->next_sample < deadline ? watch->next_sample : deadline) - now);
  }
  if (now >= watch->drain_end) return -2;
  return idle ? static_cast<int>(watch->drain_end - now) : 0;
}

}  // namespace

os_handle get_std_handle(std_slot slot) {
  int fd = slot == std_output_slot ? STDOUT_FILENO : STDERR_FILENO;
  return is_open(fd) ? fd : no_handle;
}

bool set_std_handle(std_slot slot, os_handle handle) {
  if (handle != no_handle && !is_open(descriptor(handle))) return false;
  client_std[slot] = handle;
  return true;
}

bool create_pipe(os_handle* read_end, os_handle* write_end) {
  // Close-on-exec: the client gets only the ends handed to it as standard handles.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  *read_end = fds[0];
  *write_end = fds[1];
  return true;
}

bool duplicate_private(os_handle source, os_handle* copy) {
  int fd = fcntl(descriptor(source), F_DUPFD_CLOEXEC, 0);
  if (fd == -1) return false;
  *copy = fd;
  return true;
}

bool close_handle(os_handle handle) {
  // After EINTR the descriptor is already closed on Linux: retrying could close another.
  return close(descriptor(handle)) == 0 || errno == EINTR;
}

void shield_from_signals() {
  sigemptyset(&client_default_signals);
  const int signals[] = {SIGINT, SIGQUIT, SIGPIPE};
  struct sigaction ignore;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int signal_number : signals) {
    struct sigaction previous;
    // As system(3) does: the terminal's interrupt is the client's to act on. A closed
    // stdout must show as a failed write (EPIPE), not end the wrapper.
    if (sigaction(signal_number, &ignore, &previous) == 0 && previous.sa_handler == SIG_DFL)
      sigaddset(&client_default_signals, signal_number);
  }
  // Ignored, SIGCHLD would have the system reap the client, and how it ended would be
  // lost; the client gets the default too.
  struct sigaction child;
  if (sigaction(SIGCHLD, nullptr, &child) == 0 && child.sa_handler == SIG_IGN) {
    struct sigaction by_default = ignore;
    by_default.sa_handler = SIG_DFL;
    sigaction(SIGCHLD, &by_default, nullptr);
  }
}

bool create_process(os_char* command_line) {
  // The words the client's runtime would take from the line on Windows, so that the
  // client gets the wrapper's own arguments on both systems.
  if (split_command_line(command_line, argument_area, argument_words) == 0) return false;
  if (client_std[0] == no_handle || client_std[1] == no_handle) return false;

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  if (posix_spawnattr_init(&attributes) != 0) return false;
  // dup2 onto 1 and 2 clears close-on-exec there, also when the numbers already match.
  // The error pipe's write end was the last of four new descriptors, so it is at least
  // 3 and the first dup2 cannot replace it.
  bool ready =
      posix_spawn_file_actions_adddup2(&actions, descriptor(client_std[0]), STDOUT_FILENO) == 0 &&
      posix_spawn_file_actions_adddup2(&actions, descriptor(client_std[1]), STDERR_FILENO) == 0 &&
      posix_spawnattr_setsigdefault(&attributes, &client_default_signals) == 0 &&
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF) == 0;
  pid_t pid;
  // posix_spawnp reports a failed exec itself, so "started" is known for certain here.
  bool started = ready && posix_spawnp(&pid, argument_words[0], &actions, &attributes,
                                       argument_words, environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (started) client_pid = pid;
  return started;
}

namespace {

// Reaps the client if it has ended (or, with options 0, once it has); true then.
bool reap(int options) {
  if (client_reaped || client_pid <= 0) return true;
  int status = 0;
  pid_t reaped;
  do reaped = waitpid(client_pid, &status, options);
  while (reaped < 0 && errno == EINTR);
  if (reaped == 0) return false;
  client_reaped = true;
  // -1: reaped by the system already (SIGCHLD ignored, had the shield not set it back).
  if (reaped == client_pid && WIFEXITED(status))
    client_result = {ended_with_status, static_cast<unsigned long>(WEXITSTATUS(status))};
  else if (reaped == client_pid && WIFSIGNALED(status))
    client_result = {ended_by_signal, static_cast<unsigned long>(WTERMSIG(status))};
  return true;
}

// Waits up to `seconds` for the client to end; true once it has.
bool client_ended_within(int seconds) {
  enum { step_ms = 50 };
  for (int waited = 0; waited < seconds * 1000; waited += step_ms) {
    if (reap(WNOHANG)) return true;
    struct timespec pause = {0, step_ms * 1000000L};
    nanosleep(&pause, nullptr);
  }
  return false;
}

// A descriptor that polls readable once the client has ended (Linux 5.3 and later),
// or -1.
int client_end_descriptor() {
#if defined(SYS_pidfd_open)
  return static_cast<int>(syscall(SYS_pidfd_open, client_pid, 0));
#else
  return -1;
#endif
}

// After both pipes have ended: waits for the client itself, which may still run
// without them. The watchdog, when on, still counts.
void wait_for_client(watchdog* watch, stall_handler stalled) {
  if (watch->phase != watch_watching) {
    // Off; or draining, after the stall stopped it.
    if (watch->phase == watch_off) reap(0);
    return;
  }
  int ended = client_end_descriptor();
  while (!reap(WNOHANG)) {
    int timeout = watch_wait(watch, true, false);
    if (timeout == -2) {
      stalled();
      break;
    }
    // Without the descriptor, a look every second finds the end.
    struct pollfd end = {ended, POLLIN, 0};
    poll(&end, ended >= 0 ? 1 : 0, ended >= 0 || timeout < sample_ms ? timeout : sample_ms);
  }
  if (ended >= 0) close(ended);
}

}  // namespace

void stop_client() {
  // Never reaped before, so the id cannot have gone to another process meanwhile.
  if (client_reaped || client_pid <= 0 || kill(client_pid, SIGTERM) != 0) return;
  if (client_ended_within(stop_grace_seconds)) return;
  kill(client_pid, SIGKILL);
  // Even SIGKILL waits for a process stuck in the kernel: do not wait on it for ever.
  client_ended_within(stop_grace_seconds);
}

client_end client_ending() { return client_result; }

size_t read_environment(const char* name, char* value, size_t capacity) {
  value[0] = '\0';
  const char* found = getenv(name);
  if (found == nullptr) return 0;
  size_t length = strlen(found);
  if (length < capacity) memcpy(value, found, length + 1);
  return length;
}

// Bytes, as the system holds them.
size_t read_os_environment(const char* name, os_char* value, size_t capacity) {
  return read_environment(name, value, capacity);
}

bool write_handle(os_handle handle, const char* bytes, size_t length) {
  if (handle == no_handle) return false;
  while (length > 0) {
    ssize_t count = write(descriptor(handle), bytes, length);
    if (count > 0) {
      bytes += count;
      length -= static_cast<size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    // A standard output inherited in non-blocking mode: wait until it takes more.
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd wait_for = {descriptor(handle), POLLOUT, 0};
      if (poll(&wait_for, 1, -1) < 0 && errno != EINTR) return false;
      if (wait_for.revents & (POLLERR | POLLNVAL)) return false;
      continue;
    }
    return false;
  }
  return true;
}

void print_text(const char* text) {
  // Straight to descriptor 1, not through stdio: stdio throws away what it holds when a
  // nonblocking stdout is full, where write_handle waits for room.
  write_handle(get_std_handle(std_output_slot), text, strlen(text));
}

void exit_process(int status) { _exit(status); }

size_t format_line(char* buffer, const char* format, const char* text) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  int length = snprintf(buffer, line_buffer_size, format, text);
#pragma GCC diagnostic pop
  if (length < 0) {
    buffer[0] = '\0';
    return 0;
  }
  return static_cast<size_t>(length) < line_buffer_size ? static_cast<size_t>(length)
                                                         : line_buffer_size - 1;
}

void pump_pipes(os_handle output_read, os_handle error_read, stream_sink sink,
                unsigned idle_seconds, stall_handler stalled) {
  // A pipe's worth of reads: the default pipe holds 16 pages.
  enum { burst_reads = 16 };
  static char burst[burst_reads][chunk_size];
  struct pollfd streams[2] = {{descriptor(output_read), POLLIN, 0},
                              {descriptor(error_read), POLLIN, 0}};
  // The read ends are the wrapper's own, so making them nonblocking touches no one
  // else. A stream is then read until it is empty before the relay waits again: one
  // poll per burst of output instead of one per read.
  bool nonblocking = true;
  for (const struct pollfd& stream : streams) {
    int flags = fcntl(stream.fd, F_GETFL);
    if (flags == -1 || fcntl(stream.fd, F_SETFL, flags | O_NONBLOCK) == -1) nonblocking = false;
  }
  // ready[s]: a read of stream s will not block (nonblocking) or poll said it has data.
  bool ready[2] = {nonblocking, nonblocking};
  int open_count = 2;
  int reads_since_poll = 0;
  watchdog watch;
  start_watch(&watch, idle_seconds);
  bool woke = false;
  while (open_count > 0) {
    bool idle = !ready[0] && !ready[1];
    // While one stream streams, the other is looked at every few reads all the same,
    // so that it waits at most about one pipe's worth of the first.
    if (idle || reads_since_poll >= burst_reads) {
      reads_since_poll = 0;
      // No timeout when both are drained and no watchdog is on: an idle client costs
      // nothing until one of its pipes moves.
      int timeout = idle ? -1 : 0;
      if (watch.phase != watch_off) {
        timeout = watch_wait(&watch, idle, woke);
        if (timeout == -2 && watch.phase == watch_watching) {
          stalled();
          watch.phase = watch_draining;
          watch.drain_end = now_ms() + drain_seconds * 1000;
          continue;
        }
        if (timeout == -2) break;  // the drain is over: the streams end here
      }
      int polled = poll(streams, 2, timeout);
      if (idle) woke = polled > 0;
      if (polled < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (polled < 0) {
        // Cannot wait any more: read both in turn, blocking, so nothing is lost and
        // nothing spins.
        nonblocking = false;
        for (struct pollfd& stream : streams) {
          int flags = stream.fd >= 0 ? fcntl(stream.fd, F_GETFL) : -1;
          if (flags != -1) fcntl(stream.fd, F_SETFL, flags & ~O_NONBLOCK);
          stream.revents = stream.fd >= 0 ? POLLIN : 0;
        }
      }
      for (int s = 0; s < 2; ++s)
        if (streams[s].fd >= 0 && streams[s].revents != 0) ready[s] = true;
    }
    // The streams take turns, one burst each, so neither waits behind the other.
    for (int s = 0; s < 2; ++s) {
      if (!ready[s]) continue;
      // A burst: what the pipe holds now, read before any of it is shown. While the
      // relay lags a busy client, the client then wakes once a burst instead of once
      // a read, since each read of a full pipe wakes its writer. Reading ahead shows
      // nowhere: the reads still reach the sink in order, one at a time.
      size_t lengths[burst_reads];
      int taken = 0;
      bool ended = false;
      while (taken < burst_reads) {
        ssize_t count = read(streams[s].fd, burst[taken], chunk_size);
        if (count > 0) {
          lengths[taken++] = static_cast<size_t>(count);
          ++reads_since_poll;
          // A blocking read end may be read again only once poll has said so.
          if (!nonblocking) break;
          continue;
        }
        if (count < 0 && errno == EINTR) continue;
        ended = !(count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));  // or drained
        break;
      }
      ready[s] = nonblocking && taken == burst_reads;
      for (int k = 0; k < taken; ++k) sink(s, burst[k], lengths[k]);
      if (ended) {
        streams[s].fd = -1;  // poll skips negative descriptors
        --open_count;
        sink(s, nullptr, 0);
      }
    }
  }
  for (int s = 0; s < 2; ++s)
    if (streams[s].fd >= 0) sink(s, nullptr, 0);
  wait_for_client(&watch, stalled);
  if (watch.counters_fd >= 0) close(watch.counters_fd);
}
