// A stand-in for the ftp client, built by the test suite for each system. It does what
// its arguments say, one action per argument, in order:
//   o:TEXT   write TEXT to stdout in one write     e:TEXT  the same on stderr
//   s:MS     sleep MS milliseconds                 x:CODE  exit at once with CODE (on
//                                                          Windows any 32-bit code)
//   i        copy stdin to stdout until it ends    a       write each argument and "|",
//                                                          then exit
//   F:o:N    flood stdout with N bytes             F:e:N   the same on stderr
//   F:b:N    N bytes on each, interleaved          k       die at once, as if killed
//   g:MS     leave a grandchild holding stdout and stderr, which sleeps MS ms, then
//            creates the file grandchild.done and writes "grandchild done\n" to stdout
//   y:o:N    write N bytes "y" to stdout           y:e:N   the same on stderr
//   I        from now on, write "interrupted\n" to stdout on Ctrl+C (SIGINT), and go on
//   w:MS     wait until Ctrl+C has come, at most MS milliseconds
//   m:NAME   create the empty file NAME, to show that the client ran
//   d        write "fds:" and the client's open descriptors, "fds:0,1,2\n" (POSIX)
//   T        from now on, ignore SIGTERM (POSIX; nothing on Windows)
//   t:TEXT   from now on, on SIGTERM write TEXT to stdout, then end by SIGTERM (POSIX)
//   h        write "handle:open\n" when the handle whose value FAKE_CLIENT_HANDLE holds in
//            hexadecimal is a set event here, else "handle:closed\n" (Windows)
//   p        write the client's process id to the file client.pid
//   W:MS     for MS milliseconds, write 4 KiB to the file busy.dat every 100 ms and
//            print nothing: a transfer that shows only in the client's I/O counters
//   c        close stdout and stderr, and go on           S  die of SIGSEGV (POSIX)
//   u        write each argument's code units in hex, "|" after each, then exit: on
//            Windows the UTF-16 units of the system's split of the command line, four
//            digits each, which no code page has touched; on POSIX the bytes, two each
//   r:TEXT   write TEXT (a prompt; may be empty), then read one line of commands through
//            the C library's buffer, as clients do, and write it to stdout as read
//   R:TEXT   r:TEXT again and again until the commands end
//   -s:FILE  from now on read the commands from FILE (binary), not from stdin
//   B:TEXT   write TEXT to stdout a byte a write, as the BSD-derived ports do
// TEXT escapes: \n \r \t \0 \s (space) \\ \xHH. The flood repeats, cut to N bytes,
// the line "o0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!\n"
// ("e..." on stderr).
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <dirent.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

const char flood_line[] = "?0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!\n";
const size_t flood_line_length = sizeof flood_line - 1;

bool write_all(int stream, const char* bytes, size_t length) {
#ifdef _WIN32
  // WriteFile, not the runtime: text mode would turn \n into \r\n.
  HANDLE handle = GetStdHandle(stream == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(handle, bytes, static_cast<DWORD>(length), &written, nullptr)) return false;
    bytes += written;
    length -= written;
  }
#else
  while (length > 0) {
    ssize_t written = write(stream, bytes, length);
    if (written <= 0) return false;
    bytes += written;
    length -= static_cast<size_t>(written);
  }
#endif
  return true;
}

void pause_ms(long ms) {
#ifdef _WIN32
  Sleep(static_cast<DWORD>(ms));
#else
  struct timespec wait = {ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&wait, &wait) != 0) {
  }
#endif
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes TEXT's escapes into `out`; returns the decoded length.
size_t decode(const char* text, char* out) {
  size_t n = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p != '\\' || p[1] == '\0') {
      out[n++] = *p;
      continue;
    }
    switch (*++p) {
      case 'n': out[n++] = '\n'; break;
      case 'r': out[n++] = '\r'; break;
      case 't': out[n++] = '\t'; break;
      case '0': out[n++] = '\0'; break;
      case 's': out[n++] = ' '; break;
      case 'x':
        if (hex_digit(p[1]) >= 0 && hex_digit(p[2]) >= 0) {
          out[n++] = static_cast<char>(hex_digit(p[1]) * 16 + hex_digit(p[2]));
          p += 2;
        }
        break;
      default: out[n++] = *p; break;
    }
  }
  return n;
}

// Writes the next `length` bytes of the flood of `stream`, from position `done`.
bool flood(int stream, size_t done, size_t length) {
  static char block[64 * 1024];
  if (block[0] == '\0') {
    for (size_t i = 0; i < sizeof block; ++i) block[i] = flood_line[i % flood_line_length];
  }
  while (length > 0) {
    size_t offset = done % flood_line_length;
    size_t piece = sizeof block - offset;
    if (piece > length) piece = length;
    // The line's first byte names the stream: only that byte differs in the block.
    for (size_t i = 0; i < sizeof block; i += flood_line_length) block[i] = stream == 1 ? 'o' : 'e';
    if (!write_all(stream, block + offset, piece)) return false;
    done += piece;
    length -= piece;
  }
  return true;
}

void flood_both(size_t total) {
  size_t done[2] = {0, 0};
  size_t step = 1000;
  while (done[0] < total || done[1] < total) {
    for (int s = 0; s < 2; ++s) {
      size_t piece = total - done[s] < step ? total - done[s] : step;
      if (piece == 0) continue;
      if (!flood(s + 1, done[s], piece)) return;
      done[s] += piece;
    }
    step = step % 9000 + 1777;  // uneven sizes, so reads and writes never line up
  }
}

// Set by the Ctrl+C handler, which also says so on stdout as a real client would.
volatile sig_atomic_t interrupted = 0;

#ifdef _WIN32
BOOL WINAPI on_control(DWORD event) {
  if (event != CTRL_C_EVENT) return FALSE;
  write_all(1, "interrupted\n", 12);
  interrupted = 1;
  return TRUE;
}
#else
void on_interrupt(int) {
  write_all(1, "interrupted\n", 12);
  interrupted = 1;
}
#endif

#ifndef _WIN32
// Action t's words, and its handler: a client that says something as it ends.
char last_words[64 * 1024];
size_t last_words_length = 0;

void on_terminate(int) {
  write_all(1, last_words, last_words_length);
  signal(SIGTERM, SIG_DFL);
  raise(SIGTERM);
}
#endif

// Action h: whether the handle value the test put in the environment is open here, as
// the event it is in the test's process.
void tell_inherited_handle() {
#ifdef _WIN32
  const char* value = getenv("FAKE_CLIENT_HANDLE");
  HANDLE handle = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(strtoull(value ? value : "0", nullptr, 16)));
  bool open = handle != nullptr && WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
  write_all(1, open ? "handle:open\n" : "handle:closed\n", open ? 12 : 14);
#endif
}

void catch_interrupt() {
#ifdef _WIN32
  SetConsoleCtrlHandler(on_control, TRUE);
#else
  struct sigaction action;
  memset(&action, 0, sizeof action);
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;  // writes and pauses go on after the handler
  sigaction(SIGINT, &action, nullptr);
#endif
}

// Writes `total` bytes "y" to `stream`, in blocks.
void write_ys(int stream, size_t total) {
  static char block[64 * 1024];
  memset(block, 'y', sizeof block);
  while (total > 0) {
    size_t piece = total < sizeof block ? total : sizeof block;
    if (!write_all(stream, block, piece)) return;
    total -= piece;
  }
}

void leave_grandchild(long ms, const char* self) {
#ifdef _WIN32
  (void)self;
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, sizeof path);
  char line[MAX_PATH + 64];
  snprintf(line, sizeof line, "\"%s\" s:%ld m:grandchild.done o:grandchild\\sdone\\n", path, ms);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  CreateProcessA(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
#else
  (void)self;
  if (fork() == 0) {
    pause_ms(ms);
    FILE* marker = fopen("grandchild.done", "w");
    if (marker != nullptr) fclose(marker);
    write_all(1, "grandchild done\n", 16);
    _exit(0);
  }
#endif
}

// Writes the open descriptors in increasing order, as the wrapper left them.
void list_descriptors() {
#ifndef _WIN32
  bool open[1024] = {};
  DIR* listing = opendir("/proc/self/fd");
  if (listing == nullptr) return;
  while (struct dirent* entry = readdir(listing)) {
    int fd = atoi(entry->d_name);
    if (entry->d_name[0] >= '0' && entry->d_name[0] <= '9' && fd != dirfd(listing) && fd < 1024)
      open[fd] = true;
  }
  closedir(listing);
  char line[8192] = "fds:";
  size_t used = 4;
  for (int fd = 0; fd < 1024; ++fd)
    if (open[fd]) used += static_cast<size_t>(snprintf(line + used, sizeof line - used, "%s%d", used > 4 ? "," : "", fd));
  line[used++] = '\n';
  write_all(1, line, used);
#endif
}

// Action u.
void write_code_units(int argc, char** argv) {
  char hex[8];
#ifdef _WIN32
  (void)argc;
  (void)argv;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int w = 1; words != nullptr && w < count; ++w) {
    for (const wchar_t* c = words[w]; *c != L'\0'; ++c)
      write_all(1, hex, static_cast<size_t>(snprintf(hex, sizeof hex, "%04x", static_cast<unsigned>(*c))));
    write_all(1, "|", 1);
  }
#else
  for (int a = 1; a < argc; ++a) {
    for (const char* c = argv[a]; *c != '\0'; ++c)
      write_all(1, hex, static_cast<size_t>(snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(*c))));
    write_all(1, "|", 1);
  }
#endif
}

// Where actions r and R read the commands: stdin unless a -s: argument names a file.
FILE* commands = nullptr;

// Action r: the prompt, then one line copied to stdout as it comes, a piece at a time
// (a line may be longer than any buffer). False at the end of the commands.
bool prompt_and_echo(const char* prompt) {
  static char text[64 * 1024];
  write_all(1, text, decode(prompt, text));
  size_t used = 0;
  int c = EOF;
  while ((c = getc(commands)) != EOF) {
    text[used++] = static_cast<char>(c);
    if (c == '\n' || used == sizeof text) {
      write_all(1, text, used);
      used = 0;
      if (c == '\n') return true;
    }
  }
  write_all(1, text, used);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  static char text[64 * 1024];
  commands = stdin;
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);  // the commands' bytes as they are, CR and all
#endif
  for (int a = 1; a < argc; ++a) {
    const char* action = argv[a];
    if (strncmp(action, "o:", 2) == 0 || strncmp(action, "e:", 2) == 0) {
      size_t length = decode(action + 2, text);
      write_all(action[0] == 'o' ? 1 : 2, text, length);
    } else if (strncmp(action, "s:", 2) == 0) {
      pause_ms(atol(action + 2));
    } else if (strncmp(action, "x:", 2) == 0) {
#ifdef _WIN32
      ExitProcess(static_cast<UINT>(strtoul(action + 2, nullptr, 10)));
#else
      return atoi(action + 2);
#endif
    } else if (strcmp(action, "c") == 0) {
#ifdef _WIN32
      CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
      CloseHandle(GetStdHandle(STD_ERROR_HANDLE));
#else
      close(1);
      close(2);
#endif
    } else if (strcmp(action, "S") == 0) {
#ifndef _WIN32
      signal(SIGSEGV, SIG_DFL);
      raise(SIGSEGV);
#endif
    } else if (strcmp(action, "i") == 0) {
      size_t length;
      while ((length = fread(text, 1, sizeof text, stdin)) > 0) write_all(1, text, length);
    } else if (strcmp(action, "a") == 0) {
      for (int b = 1; b < argc; ++b) {
        write_all(1, argv[b], strlen(argv[b]));
        write_all(1, "|", 1);
      }
      return 0;
    } else if (strcmp(action, "u") == 0) {
      write_code_units(argc, argv);
      return 0;
    } else if (strncmp(action, "F:", 2) == 0 && action[2] != '\0' && action[3] == ':') {
      size_t total = static_cast<size_t>(strtoull(action + 4, nullptr, 10));
      if (action[2] == 'b')
        flood_both(total);
      else
        flood(action[2] == 'o' ? 1 : 2, 0, total);
    } else if (strcmp(action, "k") == 0) {
#ifdef _WIN32
      TerminateProcess(GetCurrentProcess(), 9);
#else
      signal(SIGKILL, SIG_DFL);
      raise(SIGKILL);
#endif
    } else if (strncmp(action, "y:", 2) == 0 && action[2] != '\0' && action[3] == ':') {
      write_ys(action[2] == 'o' ? 1 : 2, static_cast<size_t>(strtoull(action + 4, nullptr, 10)));
    } else if (strcmp(action, "d") == 0) {
      list_descriptors();
    } else if (strcmp(action, "I") == 0) {
      catch_interrupt();
    } else if (strncmp(action, "w:", 2) == 0) {
      for (long waited = 0; !interrupted && waited < atol(action + 2); waited += 10) pause_ms(10);
    } else if (strncmp(action, "m:", 2) == 0) {
      FILE* marker = fopen(action + 2, "w");
      if (marker != nullptr) fclose(marker);
    } else if (strcmp(action, "p") == 0) {
      FILE* pid_file = fopen("client.pid", "w");
      if (pid_file == nullptr) return 98;
#ifdef _WIN32
      fprintf(pid_file, "%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
#else
      fprintf(pid_file, "%ld\n", static_cast<long>(getpid()));
#endif
      fclose(pid_file);
    } else if (strcmp(action, "T") == 0) {
#ifndef _WIN32
      signal(SIGTERM, SIG_IGN);
#endif
    } else if (strncmp(action, "t:", 2) == 0) {
#ifndef _WIN32
      last_words_length = decode(action + 2, last_words);
      signal(SIGTERM, on_terminate);
#endif
    } else if (strcmp(action, "h") == 0) {
      tell_inherited_handle();
    } else if (strncmp(action, "W:", 2) == 0) {
      FILE* busy = fopen("busy.dat", "wb");
      if (busy == nullptr) return 98;
      static char block[4096];
      for (long waited = 0; waited < atol(action + 2); waited += 100) {
        fwrite(block, 1, sizeof block, busy);
        fflush(busy);
        pause_ms(100);
      }
      fclose(busy);
    } else if (strncmp(action, "r:", 2) == 0) {
      prompt_and_echo(action + 2);
    } else if (strncmp(action, "R:", 2) == 0) {
      while (prompt_and_echo(action + 2)) {
      }
    } else if (strncmp(action, "-s:", 3) == 0) {
      commands = fopen(action + 3, "rb");
      if (commands == nullptr) {
        fprintf(stderr, "fake client: cannot open %s\n", action + 3);
        return 98;
      }
    } else if (strncmp(action, "B:", 2) == 0) {
      size_t length = decode(action + 2, text);
      for (size_t i = 0; i < length; ++i) write_all(1, text + i, 1);
    } else if (strncmp(action, "g:", 2) == 0) {
      leave_grandchild(atol(action + 2), argv[0]);
    } else {
      fprintf(stderr, "fake client: unknown action %s\n", action);
      return 99;
    }
  }
  return 0;
}
