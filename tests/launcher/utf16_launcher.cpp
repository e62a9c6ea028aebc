// A test helper for Windows: starts a program with a command line of exactly the UTF-16
// code units it is given, which a caller outside Windows cannot set (Wine converts the
// arguments it passes on through the Unix locale). Its one argument is that line in
// ASCII, where each \uXXXX stands for the code unit of that hexadecimal value. The
// program inherits the standard handles; the launcher waits for it and ends with its
// exit code, or with 99 when it cannot start it.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

// The longest command line CreateProcessW takes, and its terminator.
static wchar_t line[32768];

int main(int argc, char** argv) {
  if (argc != 2 || strlen(argv[1]) >= sizeof line / sizeof *line) {
    fputs("usage: utf16_launcher ESCAPED-COMMAND-LINE (at most 32767 characters)\n", stderr);
    return 99;
  }
  // The line stays terminated: it is zeros past what is written.
  size_t used = 0;
  for (const char* p = argv[1]; *p != '\0'; ++used) {
    if (strncmp(p, "\\u", 2) == 0 && strnlen(p, 6) == 6) {
      char digits[5] = {p[2], p[3], p[4], p[5], '\0'};
      line[used] = static_cast<wchar_t>(strtoul(digits, nullptr, 16));
      p += 6;
    } else {
      line[used] = static_cast<unsigned char>(*p++);
    }
  }
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
