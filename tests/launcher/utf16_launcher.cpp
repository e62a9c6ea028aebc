// A test helper for Windows: starts a program with a command line of exactly the UTF-16
// code units it is given, which a caller outside Windows cannot set (Wine converts the
// arguments it passes on through the Unix locale). Its one argument is that line in
// ASCII, where each \uXXXX stands for the code unit of that hexadecimal value. The
// program inherits the standard handles; the launcher waits for it and ends with its
// exit code, or with 99 when it cannot start it.
#include <stdio.h>
#include <windows.h>

namespace {

// The longest command line CreateProcessW takes, and its terminator.
wchar_t line[32768];

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The code unit of the \uXXXX at `p`, or -1 when none stands there.
long escaped_unit(const char* p) {
  if (p[0] != '\\' || p[1] != 'u') return -1;
  long unit = 0;
  for (int d = 2; d < 6; ++d) {
    int digit = hex_digit(p[d]);
    if (digit < 0) return -1;
    unit = unit * 16 + digit;
  }
  return unit;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fputs("usage: utf16_launcher ESCAPED-COMMAND-LINE\n", stderr);
    return 99;
  }
  size_t used = 0;
  for (const char* p = argv[1]; *p != '\0'; ++used) {
    if (used + 1 == sizeof line / sizeof *line) {
      fputs("utf16_launcher: command line too long\n", stderr);
      return 99;
    }
    long unit = escaped_unit(p);
    line[used] = static_cast<wchar_t>(unit >= 0 ? unit : static_cast<unsigned char>(*p));
    p += unit >= 0 ? 6 : 1;
  }
  line[used] = L'\0';
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    fprintf(stderr, "utf16_launcher: cannot start the program (error %lu)\n", GetLastError());
    return 99;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 99;
  GetExitCodeProcess(process.hProcess, &code);
  return static_cast<int>(code);
}
