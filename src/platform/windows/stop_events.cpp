// Windows: the console's events. Ctrl+C and Ctrl+Break are the client's; the console's
// close, logoff and shutdown are requests to stop the wrapper, which the relay takes.
#include "shared.h"

volatile LONG stop_request = 0;
HANDLE stop_event = nullptr;

namespace {

BOOL WINAPI on_console_event(DWORD event) {
  // The client shares the console and gets the same Ctrl+C: it aborts its transfer and
  // goes on, so the wrapper must go on relaying.
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  if (stop_event == nullptr) return FALSE;
  // Close, logoff, shutdown: the system ends the process once this returns, or seconds
  // later. Meanwhile the relay stops the client, reports and ends the process itself.
  InterlockedCompareExchange(&stop_request, static_cast<LONG>(event), 0);
  SetEvent(stop_event);
  Sleep(INFINITE);
  return TRUE;
}

}  // namespace

void shield_from_signals() {
  stop_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  // A handler, not SetConsoleCtrlHandler(NULL, TRUE): that flag would be inherited by
  // the client, which then could not be interrupted at all.
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

// Windows ends the process itself a few seconds after the console's event: no backstop.
void keep_backstop_record(const os_char*, const char*, size_t) {}

const char* stop_name(int stop) {
  if (stop == CTRL_CLOSE_EVENT) return "CTRL_CLOSE_EVENT";
  return stop == CTRL_LOGOFF_EVENT ? "CTRL_LOGOFF_EVENT" : "CTRL_SHUTDOWN_EVENT";
}

void end_by_stop(int) {
  // The code the console's own handler ends a process with. The job's limit stays: what
  // the client started ends with the wrapper.
  ExitProcess(STATUS_CONTROL_C_EXIT);
}
