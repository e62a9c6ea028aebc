// POSIX: the signals the wrapper shields itself from, the stop signals it takes as the
// relay's events, and the backstop that ends it whatever holds the relay.
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

sigset_t client_default_signals;
volatile sig_atomic_t stop_received = 0;
int stop_pipe[2] = {-1, -1};
volatile sig_atomic_t stop_target = 0;

namespace {

// The requests to stop the wrapper that it takes once the client runs: a handler notes
// the first and wakes the pump's poll through stop_pipe.
const int stop_signals[] = {SIGTERM, SIGHUP};
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

}  // namespace

void shield_from_signals() {
  sigemptyset(&client_default_signals);
  const int signals[] = {SIGINT, SIGQUIT, SIGPIPE, SIGXFSZ};
  struct sigaction ignore;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (int signal_number : signals) {
    struct sigaction previous;
    // As system(3) does: the terminal's interrupt is the client's to act on. A closed
    // stdout must show as a failed write (EPIPE), and a file past the size limit
    // (ulimit -f) as a short one (EFBIG), not end the wrapper.
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

void catch_stop_signals() {
  if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigaction catcher;
  memset(&catcher, 0, sizeof catcher);
  catcher.sa_handler = on_stop_signal;
  sigemptyset(&catcher.sa_mask);
  for (int signal_number : stop_signals) sigaddset(&catcher.sa_mask, signal_number);
  catcher.sa_flags = SA_RESTART;
  struct sigaction backstop = catcher;
  backstop.sa_handler = on_stop_backstop;
  sigaction(SIGALRM, &backstop, nullptr);
  // Exec sets a caught signal to its default: the client would get SIGALRM so anyway.
  sigaddset(&client_default_signals, SIGALRM);
  for (int signal_number : stop_signals) {
    struct sigaction previous;
    // nohup's SIGHUP stays ignored, for the wrapper and the client.
    if (sigaction(signal_number, nullptr, &previous) == 0 && previous.sa_handler != SIG_IGN &&
        sigaction(signal_number, &catcher, nullptr) == 0)
      sigaddset(&client_default_signals, signal_number);
  }
}

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
