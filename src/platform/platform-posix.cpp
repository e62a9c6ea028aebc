// POSIX stand-ins for the wrapper's operating-system operations.
#include "platform.h"

#include "command_line.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

extern char** environ;

const os_handle no_handle = -1;

namespace {

// The descriptors a client started now gets as its standard output and error: the
// POSIX stand-in for the process's standard handles, which on POSIX belong to the
// wrapper itself and must stay its own.
os_handle client_std[2] = {STDOUT_FILENO, STDERR_FILENO};

// Signals the wrapper ignores or catches for itself but that a client must get as it
// would without the wrapper: those that were at their default when the wrapper started.
sigset_t client_default_signals;

// The requests to stop the wrapper that it takes once the client runs, as events of the
// relay: a handler notes the first and wakes the pump's poll through a pipe of its own.
const int stop_signals[] = {SIGTERM, SIGHUP};
volatile sig_atomic_t stop_received = 0;
int stop_pipe[2] = {-1, -1};
// The client's id while it may be signalled, for the handlers; 0 once it is reaped.
volatile sig_atomic_t stop_target = 0;
// The relay ends a stop within the drain and the kill's grace; past this, something
// holds it (a write to a stdout nobody reads), and the backstop ends the wrapper.
enum { stop_backstop_seconds = 8 };

// Ends the wrapper by the stop signal from a handler, the client killed first.
void on_stop_backstop(int) {
  if (stop_target > 0) kill(stop_target, SIGKILL);
  end_by_stop(stop_received);
}

void on_stop_signal(int signal_number) {
  int saved = errno;
  if (stop_received == 0) {
    stop_received = signal_number;
    // Passed on at once, and the end made certain: the relay, which takes the stop in
    // turn, may be stuck in a write to a stdout that nobody reads.
    if (stop_target > 0) kill(stop_target, signal_number);
    alarm(stop_backstop_seconds);
  }
  // Nonblocking: a full pipe already wakes the poll.
  ssize_t written = write(stop_pipe[1], "", 1);
  (void)written;
  errno = saved;
}

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

// A descriptor opened when first needed: not_opened before, -1 where there is none.
enum { not_opened = -2 };

// The client's /proc/PID/io (Linux), for client_counters.
int counters_fd = not_opened;

// The number after `name` at a line's start in `text`, or 0.
unsigned long long count_after(const char* text, const char* name) {
  size_t size = strlen(name);
  for (const char* line = text; line != nullptr; line = strchr(line, '\n')) {
    if (*line == '\n') ++line;
    if (strncmp(line, name, size) == 0) return strtoull(line + size, nullptr, 10);
  }
  return 0;
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

void fill_std_handles() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
    // open takes the lowest free number: this one. Without a null device, as before.
    if (!is_open(fd)) open("/dev/null", O_RDWR);
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

namespace {

// Takes the stop signals that were not ignored when the wrapper started as the relay's
// events from now on; they get the default in the client. They stay blocked until the
// client has started: *mask_before is the mask to go back to. Where the wrapper cannot
// have its wake-up pipe, they end it as ever.
void catch_stop_signals(sigset_t* mask_before) {
  sigset_t stops;
  sigemptyset(&stops);
  for (int signal_number : stop_signals) sigaddset(&stops, signal_number);
  sigprocmask(SIG_BLOCK, &stops, mask_before);
  if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction catcher;
  memset(&catcher, 0, sizeof catcher);
  catcher.sa_handler = on_stop_signal;
  catcher.sa_mask = stops;
  catcher.sa_flags = SA_RESTART;
  struct sigaction backstop = catcher;
  backstop.sa_handler = on_stop_backstop;
  sigaction(SIGALRM, &backstop, nullptr);
  for (int signal_number : stop_signals) {
    struct sigaction previous;
    // nohup's SIGHUP stays ignored, for the wrapper and the client.
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN &&
        sigaction(signal_number, &catcher, nullptr) == 0)
      sigaddset(&client_default_signals, signal_number);
  }
}

// Makes `fd` the client's descriptor `target`, open across exec.
bool hand_over(os_handle fd, int target) {
  // dup2 onto the same number is a no-op that leaves close-on-exec set.
  if (descriptor(fd) == target) return fcntl(target, F_SETFD, 0) == 0;
  return dup2(descriptor(fd), target) == target;
}

// Runs the program argv[0] names, found through PATH as execvp finds it, and returns
// only on failure, with errno set. Unlike execvp it never hands a file that is no
// program to /bin/sh: such a client does not start.
void exec_client(char** argv) {
  const char* file = argv[0];
  if (strchr(file, '/') != nullptr) {
    execve(file, argv, environ);
    return;
  }
  const char* search = getenv("PATH");
  if (search == nullptr) search = "/bin:/usr/bin";  // the C library's default
  size_t file_length = strlen(file);
  bool denied = false;
  char path[4096];
  for (const char* entry = search;; ++entry) {
    const char* end = strchrnul(entry, ':');
    size_t length = static_cast<size_t>(end - entry);
    if (length + 1 + file_length < sizeof path) {
      memcpy(path, entry, length);
      if (length > 0) path[length++] = '/';  // an empty entry is the current directory
      memcpy(path + length, file, file_length + 1);
      execve(path, argv, environ);
      // As execvp: an entry without the program is passed over, any other failure ends
      // the search, and a denied one is told when nothing else was found.
      if (errno == EACCES) denied = true;
      else if (errno != ENOENT && errno != ENOTDIR && errno != ESTALE && errno != ENODEV &&
               errno != ETIMEDOUT)
        return;
    }
    if (*end == '\0') break;
    entry = end;
  }
  errno = denied ? EACCES : ENOENT;
}

// The forked child's way to the client. On failure it writes errno to `report`.
[[noreturn]] void start_client(pid_t parent, const sigset_t* mask, int report) {
  // The client's signals as the wrapper found them.
  for (int signal_number = 1; signal_number < NSIG; ++signal_number)
    if (sigismember(&client_default_signals, signal_number) == 1) signal(signal_number, SIG_DFL);
  sigprocmask(SIG_SETMASK, mask, nullptr);
  // The pipes' write ends are numbers past 2, since every standard descriptor is open:
  // the first hand_over cannot replace the second's.
  bool ready = hand_over(client_std[0], STDOUT_FILENO) && hand_over(client_std[1], STDERR_FILENO);
#ifdef __linux__
  // SIGKILL cannot be caught and passed on: the kernel ends the client instead. Set only
  // now, so the wrapper may already have died: then the client must not run at all.
  if (ready) prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(127);
#else
  (void)parent;
#endif
  if (ready) exec_client(argument_words);
  int error = errno;
  ssize_t written = write(report, &error, sizeof error);
  (void)written;
  _exit(127);
}

}  // namespace

bool create_process(os_char* command_line) {
  // The words the client's runtime would take from the line on Windows, so that the
  // client gets the wrapper's own arguments on both systems.
  if (split_command_line(command_line, argument_area, argument_words) == 0) return false;
  if (client_std[0] == no_handle || client_std[1] == no_handle) return false;

  // Closed by the client's exec, or carries why it failed: "started" is known for
  // certain before the relay starts.
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  sigset_t mask_before;
  catch_stop_signals(&mask_before);
  pid_t parent = getpid();
  // Not posix_spawn: the parent-death signal must be set in the child.
  pid_t pid = fork();
  if (pid == 0) start_client(parent, &mask_before, report[1]);
  close(report[1]);
  int error = 0;
  ssize_t got = -1;
  if (pid > 0) {
    do got = read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
  }
  close(report[0]);
  if (pid > 0 && got != 0) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  bool started = pid > 0 && got == 0;
  if (started) {
    client_pid = pid;
    stop_target = pid;
  }
  // A stop request that came meanwhile is taken now, and passed on to the client.
  sigprocmask(SIG_SETMASK, &mask_before, nullptr);
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
  stop_target = 0;
  client_reaped = true;
  if (counters_fd >= 0) close(counters_fd);
  counters_fd = -1;
  // -1: reaped by the system already (SIGCHLD ignored, had the shield not set it back).
  if (reaped == client_pid && WIFEXITED(status))
    client_result = {ended_with_status, static_cast<unsigned long>(WEXITSTATUS(status))};
  else if (reaped == client_pid && WIFSIGNALED(status))
    client_result = {ended_by_signal, static_cast<unsigned long>(WTERMSIG(status))};
  return true;
}

// A descriptor that polls readable once the client has ended (Linux 5.3 and later),
// or -1.
int client_end_descriptor() {
#if defined(SYS_pidfd_open)
  if (client_pid > 0) return static_cast<int>(syscall(SYS_pidfd_open, client_pid, 0));
#endif
  return -1;
}

// Sends the client a signal. Never once reaped, so that the number cannot have gone to
// another process meanwhile.
void signal_client(int signal_number) {
  if (!client_reaped && client_pid > 0) kill(client_pid, signal_number);
}

}  // namespace

bool await_client(int ms) {
  enum { step_ms = 50 };
  for (int waited = 0; waited < ms; waited += step_ms) {
    if (reap(WNOHANG)) return true;
    struct timespec pause = {0, step_ms * 1000000L};
    nanosleep(&pause, nullptr);
  }
  return reap(WNOHANG);
}

void stop_client() {
  signal_client(SIGTERM);
  if (await_client(stop_grace_seconds * 1000)) return;
  kill_client();
  // Even SIGKILL waits for a process stuck in the kernel: do not wait on it for ever.
  await_client(stop_grace_seconds * 1000);
}

void pass_stop(int stop) { signal_client(stop); }

void kill_client() { signal_client(SIGKILL); }

const char* stop_name(int stop) {
  static char name[32];
  snprintf(name, sizeof name, "signal %d", stop);
  return name;
}

void end_by_stop(int stop) {
  // The caller then sees what it would have seen without the wrapper: $? of 143 in a
  // shell for SIGTERM. Only calls a signal handler may make: the backstop's ends here.
  struct sigaction by_default;
  memset(&by_default, 0, sizeof by_default);
  by_default.sa_handler = SIG_DFL;
  sigaction(stop, &by_default, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, stop);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(stop);
  _exit(128 + stop);
}

client_end client_ending() {
  reap(0);
  return client_result;
}

bool client_counters(uint64_t moved[2]) {
  if (counters_fd == not_opened) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%ld/io", static_cast<long>(client_pid));
    counters_fd = client_pid > 0 ? open(path, O_RDONLY | O_CLOEXEC) : -1;
  }
  if (counters_fd < 0) return false;
  char text[512];
  ssize_t length = pread(counters_fd, text, sizeof text - 1, 0);
  if (length <= 0) return false;
  text[length] = '\0';
  // Bytes, not calls (syscr, syscw): a read that a signal restarts, as tnftp's
  // once-a-second SIGALRM does in a stalled download, is counted again with no byte moved.
  moved[0] = count_after(text, "rchar: ");
  moved[1] = count_after(text, "wchar: ");
  return true;
}

int64_t clock_ms() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

const char* read_environment(const char* name) {
  // Not copied: a value may be longer than any room set aside for it.
  const char* value = getenv(name);
  return value != nullptr ? value : "";
}

// Bytes, as the system holds them.
size_t read_os_environment(const char* name, os_char* value, size_t capacity) {
  const char* found = read_environment(name);
  size_t length = strlen(found);
  value[0] = '\0';
  if (length < capacity) memcpy(value, found, length + 1);
  return length;
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
      int flags = fd >= 0 ? fcntl(fd, F_GETFL) : -1;
      if (flags != -1) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
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
  for (int s = 0; s < 2; ++s) {
    int flags = fcntl(pump.polled[s].fd, F_GETFL);
    if (flags == -1 || fcntl(pump.polled[s].fd, F_SETFL, flags | O_NONBLOCK) == -1)
      pump.nonblocking = false;
  }
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
        if (reap(WNOHANG)) break;
        timeout = 1000;
      }
      client_gone = poll_pipes(timeout, end);
    }
    // The streams take turns, one burst each, so neither waits behind the other.
    for (int s = 0; s < 2; ++s)
      if (pump.ready[s]) read_burst(s);
  }
  // Without a process descriptor, the client's end is looked for as the wait ends.
  bool client_ended = watch_client && (end < 0 || client_gone) && reap(WNOHANG);
  // Read after the reaping: a signal sent to the client and the wrapper at once has come
  // by the time the client can be reaped.
  pump.stop_told = stop_received;
  return {pump.reads, pump.open_count == 0, client_ended, pump.stop_told};
}

void end_pump() {
  for (int s = 0; s < 2; ++s)
    if (pump.polled[s].fd >= 0) pump.sink(s, nullptr, 0);
  if (pump.end_fd >= 0) close(pump.end_fd);
}
