// What the POSIX rooms of the platform hand each other: the client's descriptors and
// process, and the stop signals' state. Nothing outside src/platform/posix includes it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include "platform/platform.h"

inline int descriptor(os_handle handle) { return static_cast<int>(handle); }

// A descriptor opened when first needed: not_opened before, -1 where there is none.
enum { not_opened = -2 };

// io: the descriptors a client started now gets as its standard output, error and input
// (by std_slot): the POSIX stand-in for the process's standard handles, which on POSIX
// belong to the wrapper itself and must stay its own.
extern os_handle client_std[3];

// stop_events: the signals the wrapper ignores or catches for itself that a client
// must get at their default, or ignored, as it would without the wrapper.
extern sigset_t client_default_signals;
extern sigset_t client_ignored_signals;

// stop_events: takes the stop signals that were not ignored when the wrapper started
// as the relay's events from now on (stop_signal_set), and adds them to the client's
// sets. Called with every signal blocked, just before the client starts. Where the
// wrapper cannot have its wake-up pipe, they end it as ever.
void catch_stop_signals();
extern sigset_t stop_signal_set;

// stop_events: the first stop request's signal, or 0; and the pipe whose read end
// (stop_pipe[0], -1 without) polls readable once one has come.
extern volatile sig_atomic_t stop_received;
extern int stop_pipe[2];

// io: makes the descriptor's reads and writes wait, or not; false on failure.
bool set_nonblocking(int fd, bool nonblocking);

// client: keeps the client that has just started, for the calls that signal, reap and
// count it.
void keep_client(pid_t pid);

// client: sends the client a signal, from a handler too; nothing once it has been
// reaped, so that the signal cannot reach another process that took its number.
void send_client_signal(int signal_number);

// client: reaps the client if it has ended (with options 0, once it has); true then,
// and when there is none.
bool reap_client(int options);

// client: the running client's /proc/PID/`leaf` ("io", "syscall") opened for reading,
// or -1.
int open_client_proc(const char* leaf);

// client: reads the start of the /proc file `fd` (-1: none) into `text`, terminated;
// its length, 0 on failure.
size_t read_proc(int fd, char* text, size_t capacity);

// client: a descriptor that polls readable once the client has ended (Linux 5.3 and
// later), or -1. The caller closes it.
int client_end_descriptor();

// commands: the wrapper's end of the client's input pipe (VESKAR_ON_FAILURE=stop), which
// never waits for room; -1 when there is none.
extern int commands_input;

// waiting: opens the running client's /proc files for client_waits, and says whether
// they can be read; and the words for a client the wrapper cannot see waiting.
bool watch_client_input();
extern const char waiting_unseen_text[];
