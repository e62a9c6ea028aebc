// POSIX: standard descriptors, pipes and writes; the environment, the clock and the
// report's formatting.
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

const os_handle no_handle = -1;

os_handle client_std[3] = {STDOUT_FILENO, STDERR_FILENO, STDIN_FILENO};

namespace {

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

}  // namespace

os_handle get_std_handle(std_slot slot) {
  int fd = slot == std_output_slot ? STDOUT_FILENO : slot == std_error_slot ? STDERR_FILENO : STDIN_FILENO;
  return is_open(fd) ? fd : no_handle;
}

bool set_std_handle(std_slot slot, os_handle handle) {
  if (handle != no_handle && !is_open(descriptor(handle))) return false;
  client_std[slot] = handle;
  return true;
}

bool set_nonblocking(int fd, bool nonblocking) {
  int flags = fcntl(fd, F_GETFL);
  return flags != -1 && fcntl(fd, F_SETFL, nonblocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) != -1;
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

namespace {

// Once a stop has come, how long a write waits for room before it gives up: the relay
// then takes the stop and ends, whatever holds its output. A descriptor that gave up
// once gets no more waits.
enum { stop_write_ms = 500 };
int given_up[2] = {-1, -1};  // stdout and stderr may both be stuck

bool gave_up(int fd) { return fd == given_up[0] || fd == given_up[1]; }

// Waits for room to write, up to `ms` (-1: no limit). False when none came, or the
// descriptor failed.
bool room_to_write(int fd, int ms) {
  struct pollfd wait_for = {fd, POLLOUT, 0};
  int ready = poll(&wait_for, 1, ms);
  if (ready < 0) return errno == EINTR && ms < 0;
  return ready > 0 && !(wait_for.revents & (POLLERR | POLLNVAL));
}

}  // namespace

bool write_handle(os_handle handle, const char* bytes, size_t length) {
  if (handle == no_handle) return false;
  while (length > 0) {
    // After a stop, a write that would wait gives up. At most PIPE_BUF once there is
    // room, which a pipe then takes without waiting; before, whatever it takes, until a
    // stop interrupts it (the stop's handler restarts nothing).
    bool stopping = stop_received != 0;
    if (stopping && (gave_up(descriptor(handle)) || !room_to_write(descriptor(handle), stop_write_ms))) {
      if (!gave_up(descriptor(handle))) given_up[given_up[0] == -1 ? 0 : 1] = descriptor(handle);
      return false;
    }
    size_t piece = stopping && length > PIPE_BUF ? PIPE_BUF : length;
    ssize_t count = write(descriptor(handle), bytes, piece);
    if (count > 0) {
      bytes += count;
      length -= static_cast<size_t>(count);
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    // A standard output inherited in non-blocking mode: wait until it takes more.
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!stopping && !room_to_write(descriptor(handle), -1)) return false;
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
