// The client the benchmark harness runs as `ftp`. One action per argument, in order:
//   x           exit at once
//   s:MS        sleep MS milliseconds, writing nothing
//   F:N[:W]     write N bytes of directory listing to stdout, W bytes a write (at most
//               128 KiB; 64 KiB when not given)
//   P:N         N times: wait for one byte on stdin, write the monotonic clock (ns, 8
//               bytes) to descriptor 3, then write the 5-byte prompt "ftp> " to stdout
//   l:MS        read one line from stdin, as a client reads a command, then sleep MS
//               milliseconds, writing nothing: one long command
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

namespace {

bool write_all(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

// Listing lines like a server sends for LIST: digits and names, no failure sign.
void flood(uint64_t total, size_t write_size) {
  static char block[128 * 1024];
  size_t filled = 0;
  for (unsigned n = 0; filled < sizeof block; ++n) {
    char line[128];
    int length = snprintf(line, sizeof line,
                          "-rw-r--r--   1 ftp      ftp      %9u Dec 07 07:%02u file-%06u.dat\r\n",
                          n * 7919u % 100000000u, n % 60, n);
    size_t room = sizeof block - filled;
    size_t take = room < static_cast<size_t>(length) ? room : static_cast<size_t>(length);
    memcpy(block + filled, line, take);
    filled += take;
  }
  while (total > 0) {
    size_t piece = total < write_size ? static_cast<size_t>(total) : write_size;
    if (!write_all(1, block, piece)) return;
    total -= piece;
  }
}

uint64_t now_ns() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000u + static_cast<uint64_t>(t.tv_nsec);
}

void prompts(long rounds) {
  for (long r = 0; r < rounds; ++r) {
    char trigger;
    if (read(0, &trigger, 1) != 1) return;
    uint64_t stamp = now_ns();
    if (!write_all(3, reinterpret_cast<const char*>(&stamp), sizeof stamp)) return;
    if (!write_all(1, "ftp> ", 5)) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (int a = 1; a < argc; ++a) {
    const char* action = argv[a];
    if (strcmp(action, "x") == 0) return 0;
    if (strncmp(action, "s:", 2) == 0) {
      long ms = atol(action + 2);
      struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
      while (nanosleep(&wait, &wait) != 0) {
      }
    } else if (strncmp(action, "F:", 2) == 0) {
      char* end;
      uint64_t total = strtoull(action + 2, &end, 10);
      size_t write_size = *end == ':' ? strtoul(end + 1, nullptr, 10) : 64 * 1024;
      if (write_size == 0 || write_size > 128 * 1024) {
        fprintf(stderr, "bench client: bad write size in %s\n", action);
        return 99;
      }
      flood(total, write_size);
    } else if (strncmp(action, "l:", 2) == 0) {
      char line[4096];
      if (fgets(line, sizeof line, stdin) == nullptr) return 98;
      long ms = atol(action + 2);
      struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
      while (nanosleep(&wait, &wait) != 0) {
      }
    } else if (strncmp(action, "P:", 2) == 0) {
      prompts(atol(action + 2));
    } else {
      fprintf(stderr, "bench client: unknown action %s\n", action);
      return 99;
    }
  }
  return 0;
}
