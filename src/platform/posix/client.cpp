// POSIX: the started client's lifetime: how it is reaped, stopped and signalled, and
// what its /proc counters say.
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// The client create_process started, and how it ended once it has been reaped.
pid_t client_pid = -1;
bool client_reaped = false;
client_end client_result = {ended_unknown, 0};

// For the signals sent from handlers too: the client's process id while it may be
// signalled, 0 once reaped; and a descriptor of the process itself (Linux 5.3 and
// later; -1 without), which no other process can take over, so that a signal sent
// through it after the reap reaches nobody.
volatile sig_atomic_t signal_target = 0;
volatile sig_atomic_t client_pidfd = -1;

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

void send_client_signal(int signal_number) {
#if defined(SYS_pidfd_send_signal)
  if (client_pidfd >= 0) {
    syscall(SYS_pidfd_send_signal, static_cast<int>(client_pidfd), signal_number, nullptr, 0);
    return;
  }
#endif
  if (signal_target > 0) kill(static_cast<pid_t>(signal_target), signal_number);
}

void keep_client(pid_t pid) {
  client_pid = pid;
  signal_target = pid;
#if defined(SYS_pidfd_open)
  // Before any reap: the process, ended or not, is still the client.
  client_pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
}

bool reap_client(int options) {
  if (client_reaped || client_pid <= 0) return true;
  int status = 0;
  pid_t reaped;
  // Without a process descriptor, no stop handler may signal the number between the
  // reap and the target's reset: the reap waits unblocked for the end (or, with WNOHANG,
  // looks whether it has come), then reaps with the stop signals held back.
  bool held = client_pidfd < 0;
  if (held) {
    siginfo_t ended;
    ended.si_pid = 0;
    int looked;
    do looked = waitid(P_PID, static_cast<id_t>(client_pid), &ended, WEXITED | WNOWAIT | (options & WNOHANG));
    while (looked != 0 && errno == EINTR);
    if (looked == 0 && ended.si_pid == 0) return false;  // still running: no mask to touch
  }
  sigset_t before;
  if (held) sigprocmask(SIG_BLOCK, &stop_signal_set, &before);
  do reaped = waitpid(client_pid, &status, options);
  while (reaped < 0 && errno == EINTR);
  if (reaped != 0) signal_target = 0;
  if (held) sigprocmask(SIG_SETMASK, &before, nullptr);
  if (reaped == 0) return false;
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

int client_end_descriptor() {
  return client_pidfd >= 0 ? fcntl(client_pidfd, F_DUPFD_CLOEXEC, 0) : -1;
}

bool await_client(int ms) {
  enum { step_ms = 50 };
  for (int waited = 0; waited < ms; waited += step_ms) {
    if (reap_client(WNOHANG)) return true;
    struct timespec pause = {0, step_ms * 1000000L};
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
  }
  return reap_client(WNOHANG);
}

void stop_client() {
  send_client_signal(SIGTERM);
  if (await_client(stop_grace_seconds * 1000)) return;
  kill_client();
  // Even SIGKILL waits for a process stuck in the kernel: do not wait on it for ever.
  await_client(stop_grace_seconds * 1000);
}

void pass_stop(int stop) { send_client_signal(stop); }

void kill_client() { send_client_signal(SIGKILL); }

void release_client_job() {}

client_end client_ending() {
  reap_client(0);
  return client_result;
}

int open_client_proc(const char* leaf) {
  if (client_pid <= 0) return -1;
  char path[64];
  snprintf(path, sizeof path, "/proc/%ld/%s", static_cast<long>(client_pid), leaf);
  return open(path, O_RDONLY | O_CLOEXEC);
}

size_t read_proc(int fd, char* text, size_t capacity) {
  ssize_t length = fd >= 0 ? pread(fd, text, capacity - 1, 0) : -1;
  if (length <= 0) return 0;
  text[length] = '\0';
  return static_cast<size_t>(length);
}

bool client_counters(uint64_t moved[2]) {
  if (counters_fd == not_opened) counters_fd = open_client_proc("io");
  char text[512];
  if (read_proc(counters_fd, text, sizeof text) == 0) return false;
  // Bytes, not calls (syscr, syscw): a read that a signal restarts, as tnftp's
  // once-a-second SIGALRM does in a stalled download, is counted again with no byte moved.
  moved[0] = count_after(text, "rchar: ");
  moved[1] = count_after(text, "wchar: ");
  return true;
}
