// Windows: the started client's lifetime: how it is waited on and ended, and what its
// I/O counters say.
#include "shared.h"

HANDLE client_process = nullptr;

bool client_done() {
  return client_process != nullptr && WaitForSingleObject(client_process, 0) == WAIT_OBJECT_0;
}

client_end client_ending() {
  DWORD code = 0;
  // Ended for certain, so that a client's own exit code of STILL_ACTIVE (259) stays its.
  if (client_process == nullptr || WaitForSingleObject(client_process, INFINITE) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(client_process, &code))
    return {ended_unknown, 0};
  return {ended_with_status, code};
}

void stop_client() {
  kill_client();
  // Its end closes its ends of the pipes; the wait keeps that before the drain.
  await_client(stop_grace_seconds * 1000);
}

void pass_stop(int) { kill_client(); }

void kill_client() {
  if (client_process != nullptr) TerminateProcess(client_process, 1);
}

bool await_client(int ms) {
  return client_process == nullptr ||
         WaitForSingleObject(client_process, static_cast<DWORD>(ms)) == WAIT_OBJECT_0;
}

bool client_counters(uint64_t moved[2]) {
  // Bytes only: control calls, such as a socket's select, move other bytes while no
  // data moves. Wine keeps no counts: they stay zero.
  IO_COUNTERS counters;
  if (client_process == nullptr || !GetProcessIoCounters(client_process, &counters)) return false;
  moved[0] = counters.ReadTransferCount;
  moved[1] = counters.WriteTransferCount;
  return true;
}
