// POSIX: the record's file, wall clock and host name, and text in UTF-8.
#include "platform/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "shared.h"
#include "utf8.h"

os_handle open_for_append(const os_char* path) {
  // Nonblocking while it opens: a FIFO without a reader fails at once (ENXIO) rather
  // than wait for one. Then blocking, so that a FIFO's write lands whole or not at all.
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) return no_handle;
  if (!set_nonblocking(fd, false)) {
    int failure = errno;
    close(fd);
    errno = failure;
    return no_handle;
  }
  return fd;
}

bool is_pipe(os_handle handle) {
  struct stat status;
  return fstat(static_cast<int>(handle), &status) == 0 && S_ISFIFO(status.st_mode);
}

size_t write_once(os_handle handle, const char* bytes, size_t length) {
  ssize_t count;
  // Interrupted before any byte went, it is still the one write.
  do count = write(static_cast<int>(handle), bytes, length);
  while (count < 0 && errno == EINTR);
  return count > 0 ? static_cast<size_t>(count) : 0;
}

int64_t wall_clock_ms() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

size_t host_name(char* name, size_t capacity) {
  char raw[256];
  if (gethostname(raw, sizeof raw) != 0) return 0;
  raw[sizeof raw - 1] = '\0';
  size_t length = repair_utf8(raw, strnlen(raw, sizeof raw), name, capacity - 1);
  name[length] = '\0';
  return length;
}

size_t os_text_in_utf8(const os_char* text, size_t length, char* out, size_t capacity) {
  return repair_utf8(text, length, out, capacity);
}

size_t client_text_in_utf8(const char* bytes, size_t length, size_t, char* out, size_t capacity) {
  return repair_utf8(bytes, length, out, capacity);
}
