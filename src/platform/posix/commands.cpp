// POSIX: the client's commands, read from the wrapper's standard input and written to
// the client's input pipe, neither waiting.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "shared.h"

int commands_input = -1;

namespace {

// The client's end of its input pipe, until create_process has handed it over.
int client_side = -1;

}  // namespace

commands_route open_commands(int, const os_char* const*) {
  if (isatty(STDIN_FILENO)) return commands_typed;
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return commands_unrouted;
  // The wrapper's end alone: the client's stays blocking, as a file or pipe would be.
  if (!set_nonblocking(fds[1], true) || !set_std_handle(std_input_slot, fds[0])) {
    close(fds[0]);
    close(fds[1]);
    return commands_unrouted;
  }
  client_side = fds[0];
  commands_input = fds[1];
  return commands_piped;
}

size_t read_commands(char* buffer, size_t capacity, bool* ended) {
  *ended = false;
  // Standard input stays as the caller made it (blocking, shared with others): it is read
  // only once poll has said a read will not wait.
  struct pollfd source = {STDIN_FILENO, POLLIN, 0};
  int ready = poll(&source, 1, 0);
  if (ready == 0 || (ready < 0 && errno == EINTR)) return 0;
  if (ready < 0 || (source.revents & POLLNVAL)) {
    *ended = true;
    return 0;
  }
  ssize_t count = read(STDIN_FILENO, buffer, capacity);
  if (count > 0) return static_cast<size_t>(count);
  if (count < 0 && (errno == EINTR || errno == EAGAIN)) return 0;
  *ended = true;
  return 0;
}

size_t commands_held() {
  // The rest of a file, what a pipe or socket holds; a device says nothing.
  int held = 0;
  return ioctl(STDIN_FILENO, FIONREAD, &held) == 0 && held > 0 ? static_cast<size_t>(held) : 0;
}

bool write_commands(const char* bytes, size_t length, size_t* taken) {
  *taken = 0;
  if (commands_input < 0) return false;
  ssize_t count = write(commands_input, bytes, length);
  if (count > 0) {
    *taken = static_cast<size_t>(count);
    return true;
  }
  // Full for now; EPIPE once the client has closed its input or ended.
  return count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
}

void close_commands() {
  if (commands_input >= 0) close(commands_input);
  commands_input = -1;
}

const char* start_commands() {
  if (client_side >= 0) close(client_side);
  client_side = -1;
  return watch_client_input() ? nullptr : waiting_unseen_text;
}
