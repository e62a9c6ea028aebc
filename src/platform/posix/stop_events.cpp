// POSIX: the signals the wrapper shields itself from, the stop signals it takes as the
// relay's events, and the backstop that ends it whatever holds the relay.
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

sigset_t client_default_signals;
sigset_t client_ignored_signals;
sigset_t stop_signal_set;
volatile sig_atomic_t stop_received = 0;
int stop_pipe[2] = {-1, -1};

namespace {

// The requests to stop the wrapper that it takes once the client runs: every signal a
// supervisor, timeout(1) or kill may send that would otherwise end the wrapper and leave
// the client running, the realtime ones too (the terminal's SIGINT and SIGQUIT are the
// client's; the faults' signals are the wrapper's own). A handler notes the first and
// wakes the pump's poll through stop_pipe.
const int stop_signals[] = {SIGTERM, SIGHUP, SIGALRM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
#ifdef __linux__
                            SIGIO, SIGPWR, SIGSTKFLT,
#endif
};

// Every stop signal: the list, then the realtime signals the C library leaves to programs.
void fill_stop_signals(sigset_t* set) {
  sigemptyset(set);
  for (int signal_number : stop_signals) sigaddset(set, signal_number);
#ifdef SIGRTMIN
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) sigaddset(set, signal_number);
#endif
}

// The relay ends a stop within the drain and the kill's grace; past this, something
// holds it, and the backstop ends the wrapper.
enum { stop_backstop_seconds = 8 };

// The backstop's timer, which signals SIGALRM with SI_TIMER: no kill(), alarm() or
// outside process can fire it. SIGALRM ignored when the wrapper started stays so.
timer_t backstop_timer;
bool backstop_armable = false;
bool alarm_ignored = false;

// The record the backstop appends, as keep_backstop_record last set it; line nullptr
// for none. Set in an order the handler, which may come between any two, can rely on.
const os_char* volatile backstop_path = nullptr;
const char* volatile backstop_line = nullptr;
volatile size_t backstop_length = 0;

// Ends the wrapper by the stop signal from a handler: the client killed, the record
// appended, with calls that can neither block nor take a lock.
[[noreturn]] void on_stop_backstop() {
  send_client_signal(SIGKILL);
  const char* line = backstop_line;
  if (line != nullptr) {
    int fd = open(backstop_path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd >= 0) {
      ssize_t written = write(fd, line, backstop_length);
      (void)written;
    }
  }
  end_by_stop(stop_received);
}

void take_stop(int signal_number) {
  if (stop_received == 0) {
    stop_received = signal_number;
    // Passed on at once, and the end made certain: the relay, which takes the stop in
    // turn, may be held in a write that began before it.
    send_client_signal(signal_number);
    struct itimerspec when = {{0, 0}, {stop_backstop_seconds, 0}};
    if (backstop_armable) timer_settime(backstop_timer, 0, &when, nullptr);
  }
  // Nonblocking: a full pipe already wakes the poll.
  ssize_t written = write(stop_pipe[1], "", 1);
  (void)written;
}

void on_stop_signal(int signal_number, siginfo_t* info, void*) {
  int saved = errno;
  if (signal_number == SIGALRM && info->si_code == SI_TIMER) {
    if (stop_received != 0 && info->si_value.sival_ptr == &backstop_timer) on_stop_backstop();
  } else if (signal_number != SIGALRM || !alarm_ignored) {
    take_stop(signal_number);
  }
  errno = saved;
}

}  // namespace

void shield_from_signals() {
  sigemptyset(&client_default_signals);
  sigemptyset(&client_ignored_signals);
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
  sigemptyset(&stop_signal_set);
  if (pipe2(stop_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  struct sigevent event;
  memset(&event, 0, sizeof event);
  event.sigev_notify = SIGEV_SIGNAL;
  event.sigev_signo = SIGALRM;
  event.sigev_value.sival_ptr = &backstop_timer;
  backstop_armable = timer_create(CLOCK_MONOTONIC, &event, &backstop_timer) == 0;
  struct sigaction catcher;
  memset(&catcher, 0, sizeof catcher);
  catcher.sa_sigaction = on_stop_signal;
  fill_stop_signals(&catcher.sa_mask);
  // No SA_RESTART: a stop interrupts a write to a stdout that nobody reads.
  catcher.sa_flags = SA_SIGINFO;
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    struct sigaction previous;
    if (sigismember(&catcher.sa_mask, signal_number) != 1 || sigaction(signal_number, nullptr, &previous) != 0)
      continue;
    // nohup's SIGHUP stays ignored, for the wrapper and the client. SIGALRM is caught
    // all the same, for the backstop's timer, and the client gets it ignored.
    bool ignored = previous.sa_handler == SIG_IGN;
    if (signal_number == SIGALRM) alarm_ignored = ignored;
    if ((ignored && signal_number != SIGALRM) || sigaction(signal_number, &catcher, nullptr) != 0) continue;
    sigaddset(&stop_signal_set, signal_number);
    sigaddset(ignored ? &client_ignored_signals : &client_default_signals, signal_number);
  }
}

void keep_backstop_record(const os_char* path, const char* line, size_t length) {
  backstop_line = nullptr;
  backstop_path = path;
  backstop_length = length;
  backstop_line = line;
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
