// POSIX: whether the client waits for its next line of input. Linux tells it exactly: a
// client asleep in a read of descriptor 0 while its input pipe is empty has taken every
// line it was given and waits for the next. Other systems cannot tell.
#include "platform/platform.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "shared.h"

const bool waiting_shown_by_prompt = false;
const char waiting_unseen_text[] = "VESKAR_ON_FAILURE=stop cannot see when the client waits for input";

namespace {

// The client's /proc/PID/syscall and /proc/PID/stat, kept open; -1 without.
int syscall_fd = -1;
int stat_fd = -1;

#ifdef __linux__
size_t read_proc_file(const char* path, char* text, size_t capacity) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  size_t length = read_proc(fd, text, capacity);
  if (fd >= 0) close(fd);
  return length;
}

// Whether this process holds CAP_SYS_PTRACE, which Yama's ptrace_scope 2 asks for.
bool may_trace() {
  char text[4096];
  if (read_proc_file("/proc/self/status", text, sizeof text) == 0) return false;
  const char* caps = strstr(text, "\nCapEff:");
  return caps != nullptr && (strtoull(caps + 8, nullptr, 16) >> 19 & 1) != 0;
}
#endif

// Whether the client's program is of the other word size (a 32-bit one on a 64-bit
// system): its calls then go by other numbers. One that cannot be read is taken as ours.
bool other_word_size() {
  char header[8];
  int fd = open_client_proc("exe");
  bool elf = read_proc(fd, header, sizeof header) >= 5 && memcmp(header, "\177ELF", 4) == 0;
  if (fd >= 0) close(fd);
  return elf && header[4] != (sizeof(void*) == 8 ? 2 : 1);  // EI_CLASS: 1 for 32 bits, 2 for 64
}

bool empty_pipe(int fd) {
  int unread = 0;
  return ioctl(fd, FIONREAD, &unread) == 0 && unread == 0;
}

}  // namespace

const char* waiting_unseen() {
#ifdef __linux__
  char text[256];
  if (read_proc_file("/proc/self/syscall", text, sizeof text) == 0) return waiting_unseen_text;
  // Without Yama there is no such file, and a parent may read its child's.
  if (read_proc_file("/proc/sys/kernel/yama/ptrace_scope", text, sizeof text) == 0) return nullptr;
  int scope = atoi(text);
  return scope >= 3 || (scope == 2 && !may_trace()) ? waiting_unseen_text : nullptr;
#else
  return waiting_unseen_text;
#endif
}

bool watch_client_input() {
  syscall_fd = open_client_proc("syscall");
  stat_fd = open_client_proc("stat");
  // The right to read them is checked at each read: a client that runs set-user-ID, say,
  // withholds them.
  char text[256];
  return read_proc(syscall_fd, text, sizeof text) > 0 && read_proc(stat_fd, text, sizeof text) > 0 &&
         !other_word_size();
}

bool client_waits(bool) {
  // Cheapest first: output still on its way means the client was busy a moment ago.
  if (commands_input < 0 || pump_holds_output() || !empty_pipe(commands_input)) return false;
  // "NR ARG0 ...", the call it sleeps in; "running" while it runs. A read that has taken
  // bytes returns at once, so a sleeping read of an empty pipe is a new one.
  char text[256];
  if (read_proc(syscall_fd, text, sizeof text) == 0) return false;
  char* end = nullptr;
  long call = strtol(text, &end, 10);
  if (end == text || call != SYS_read || strtoull(end, nullptr, 16) != 0) return false;
  // Asleep in it (S), not stopped, nor just woken by the line written last.
  if (read_proc(stat_fd, text, sizeof text) == 0) return false;
  const char* name_end = strrchr(text, ')');
  if (name_end == nullptr || name_end[1] != ' ' || name_end[2] != 'S') return false;
  // What it printed before it slept has reached the pipes by now, and is read.
  return !pump_holds_output();
}
