// A test helper for Windows: starts a program as a caller that holds an inheritable
// handle would, and may end it with TerminateProcess.
//   stop_launcher [--terminate] COMMAND-LINE
// The handle is an event, set, whose value it puts in FAKE_CLIENT_HANDLE in hexadecimal
// (the fake client's action h looks at it). Plain, it waits for the program and ends
// with its exit code. With --terminate it waits for the file client.pid (the fake
// client's action p), ends the program with TerminateProcess, and writes to
// client_end.txt how many milliseconds the client took to end after that, or
// "still running" after 10 seconds; then it ends with 0. 99: it could not do its part.
#include <stdio.h>
#include <string.h>
#include <windows.h>

static wchar_t line[32768];

// The fake client's process id once it has written all of client.pid, else 0.
static DWORD client_id() {
  FILE* file = fopen("client.pid", "r");
  if (file == nullptr) return 0;
  unsigned long id = 0;
  char end = 0;
  bool whole = fscanf(file, "%lu%c", &id, &end) == 2 && end == '\n';
  fclose(file);
  return whole ? id : 0;
}

int main(int argc, char** argv) {
  bool terminate = argc == 3 && strcmp(argv[1], "--terminate") == 0;
  if ((argc != 2 && !terminate) || strlen(argv[argc - 1]) >= sizeof line / sizeof *line) {
    fputs("usage: stop_launcher [--terminate] COMMAND-LINE\n", stderr);
    return 99;
  }
  for (size_t i = 0; argv[argc - 1][i] != '\0'; ++i) line[i] = static_cast<unsigned char>(argv[argc - 1][i]);
  HANDLE self = GetCurrentProcess();
  HANDLE event = CreateEventW(nullptr, TRUE, TRUE, nullptr);
  // Its value far above the few handles a new process opens for itself, so that it
  // cannot be one of the client's own.
  HANDLE spare = nullptr;
  for (int k = 0; k < 200; ++k) DuplicateHandle(self, event, self, &spare, 0, FALSE, DUPLICATE_SAME_ACCESS);
  HANDLE inherited = nullptr;
  DuplicateHandle(self, event, self, &inherited, 0, TRUE, DUPLICATE_SAME_ACCESS);
  char value[32];
  snprintf(value, sizeof value, "%llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(inherited)));
  SetEnvironmentVariableA("FAKE_CLIENT_HANDLE", value);

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (inherited == nullptr ||
      !CreateProcessW(nullptr, line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
    fprintf(stderr, "stop_launcher: cannot start the program (error %lu)\n", GetLastError());
    return 99;
  }
  if (!terminate) {
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 99;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
  }
  DWORD id = 0;
  for (int waited = 0; (id = client_id()) == 0 && waited < 30000; waited += 20) Sleep(20);
  // Opened before the wrapper ends, so that the id cannot go to another process.
  HANDLE client = id != 0 ? OpenProcess(SYNCHRONIZE, FALSE, id) : nullptr;
  if (client == nullptr) {
    fputs("stop_launcher: no client to watch\n", stderr);
    return 99;
  }
  TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD began = GetTickCount();
  bool ended = WaitForSingleObject(client, 10000) == WAIT_OBJECT_0;
  FILE* result = fopen("client_end.txt", "w");
  if (result == nullptr) return 99;
  if (ended)
    fprintf(result, "%lu\n", GetTickCount() - began);
  else
    fputs("still running\n", result);
  fclose(result);
  if (!ended) TerminateProcess(client, 1);
  return 0;
}
