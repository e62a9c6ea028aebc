// Windows: the relay pump: a reader thread a pipe, whose reads the main thread lets
// through only inside pump_wait.
#include "shared.h"

#include "platform/platform.h"

namespace {

// The relay's state shared by both reader threads. The main thread holds sink_lock but
// inside pump_wait, so that no read is handed on beside its own code.
CRITICAL_SECTION sink_lock;
stream_sink pump_sink;
HANDLE pump_sources[2];
HANDLE pump_threads[2];
char pump_buffers[2][chunk_size];
// Under sink_lock: calls to the sink so far, and which streams have had their end mark.
DWORD pump_reads;
bool pump_ended[2];
// Set while a reader holds bytes it has read but not yet handed on.
volatile LONG pump_holding[2];
// Each reader's reads begun, and the last one that has returned (its bytes marked held).
volatile LONG pump_begun[2];
volatile LONG pump_returned[2];
// Set while a reader whose read returned no bytes waits for the look to end: it is in no
// read, and the pipe may be looked into.
volatile LONG pump_parked[2];
// With pump_watch_reads: each read handed on sets pump_read_event.
HANDLE pump_read_event = nullptr;

// Waits for data and reads at most chunk_size bytes into the stream's buffer, marked held.
// Returns the count read, or 0 once every write end is closed and the data is drained,
// or on failure.
size_t read_pipe(int stream) {
  for (;;) {
    DWORD count = 0;
    LONG read = InterlockedIncrement(&pump_begun[stream]);
    bool done = ReadFile(pump_sources[stream], pump_buffers[stream], chunk_size, &count, nullptr);
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (count > 0) InterlockedExchange(&pump_holding[stream], 1);
    InterlockedExchange(&pump_returned[stream], read);
    if (count > 0) return count;
    // The end shows as a failed read once every write end is closed. A read that
    // pump_holds_output cancelled, or a client's zero-byte write, returns no bytes: the
    // next read waits for the look, which holds the lock, to end.
    if (!done && error != ERROR_OPERATION_ABORTED) return 0;
    InterlockedExchange(&pump_parked[stream], 1);
    EnterCriticalSection(&sink_lock);
    InterlockedExchange(&pump_parked[stream], 0);
    LeaveCriticalSection(&sink_lock);
  }
}

// Whether the reader of `stream` or its pipe may hold bytes. A pending read is cancelled
// and its return waited for: a cancel that comes too late lets the read take bytes.
bool reader_holds(int stream) {
  if (pump_holding[stream] != 0) return true;
  if (pump_parked[stream] == 0) {
    LONG read = pump_begun[stream];
    // Between two reads, or any failure: held, to be looked at again.
    if (!CancelSynchronousIo(pump_threads[stream]) || pump_begun[stream] != read) return true;
    int64_t until = clock_ms() + 100;
    for (int waited = 0; pump_returned[stream] != read; ++waited) {
      if (clock_ms() > until) return true;
      Sleep(waited == 0 ? 0 : 1);
    }
    if (pump_holding[stream] != 0) return true;
  }
  // In no read now, nor in one before the caller lets go of the lock: what the pipe
  // holds, the client wrote while no read waited.
  DWORD waiting = 0;
  if (!PeekNamedPipe(pump_sources[stream], nullptr, 0, nullptr, &waiting, nullptr))
    return GetLastError() != ERROR_BROKEN_PIPE;  // closed and drained: nothing more
  return waiting > 0;
}

DWORD WINAPI pump_one(LPVOID parameter) {
  int stream = static_cast<int>(reinterpret_cast<intptr_t>(parameter));
  for (;;) {
    // Anonymous pipes have no overlapped I/O: one blocking reader per pipe.
    size_t count = read_pipe(stream);
    EnterCriticalSection(&sink_lock);
    pump_sink(stream, count > 0 ? pump_buffers[stream] : nullptr, count);
    ++pump_reads;
    if (count == 0) pump_ended[stream] = true;
    InterlockedExchange(&pump_holding[stream], 0);
    if (pump_read_event != nullptr) SetEvent(pump_read_event);
    LeaveCriticalSection(&sink_lock);
    if (count == 0) return 0;
  }
}

}  // namespace

void start_pump(os_handle output_read, os_handle error_read, stream_sink sink) {
  InitializeCriticalSection(&sink_lock);
  pump_sink = sink;
  pump_sources[0] = native(output_read);
  pump_sources[1] = native(error_read);
  for (int s = 0; s < 2; ++s)
    pump_threads[s] = CreateThread(nullptr, 64 * 1024, pump_one,
                                   reinterpret_cast<LPVOID>(static_cast<intptr_t>(s)),
                                   STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  // A stream whose thread could not start is served here, beside the other reader.
  for (int s = 0; s < 2; ++s)
    if (pump_threads[s] == nullptr) pump_one(reinterpret_cast<LPVOID>(static_cast<intptr_t>(s)));
  EnterCriticalSection(&sink_lock);
}

pump_news pump_wait(int ms, bool watch_client) {
  HANDLE waits[5];
  DWORD count = 0;
  for (int s = 0; s < 2; ++s)
    if (!pump_ended[s]) waits[count++] = pump_threads[s];
  if (watch_client && client_process != nullptr) waits[count++] = client_process;
  // Wakes once, for the console's first request to end.
  if (stop_event != nullptr) waits[count++] = stop_event;
  if (pump_read_event != nullptr) waits[count++] = pump_read_event;
  LeaveCriticalSection(&sink_lock);
  DWORD timeout = ms < 0 ? INFINITE : static_cast<DWORD>(ms);
  // Cannot wait on them: look again a second later, so that nothing spins.
  if (count == 0 || WaitForMultipleObjects(count, waits, FALSE, timeout) == WAIT_FAILED)
    Sleep(timeout < 1000 ? timeout : 1000);
  EnterCriticalSection(&sink_lock);
  return {pump_reads, pump_ended[0] && pump_ended[1], watch_client && client_done(),
          static_cast<int>(stop_request)};
}

bool pump_holds_output() {
  // The caller holds the sink's lock, so each reader that has not ended either holds bytes
  // it read, waiting for the lock, or waits in its read. Not PeekNamedPipe: on a pipe that
  // another thread reads synchronously, it waits for that read to end.
  for (int s = 0; s < 2; ++s)
    if (!pump_ended[s] && pump_threads[s] != nullptr && reader_holds(s)) return true;
  return false;
}

void pump_watch_reads() { pump_read_event = CreateEventW(nullptr, FALSE, FALSE, nullptr); }

void end_pump() {
  // A reader may still wait on a pipe that another process holds open: its stream ends
  // here. The lock stays held, so that no read is handed on after the return; the
  // process ends next.
  for (int s = 0; s < 2; ++s)
    if (!pump_ended[s]) pump_sink(s, nullptr, 0);
  // A reader whose stream ended is on its way out: let it go first. Under Wine a
  // process that ends beside a thread that is ending dies of SIGSEGV now and then.
  for (int s = 0; s < 2; ++s)
    if (pump_ended[s] && pump_threads[s] != nullptr) WaitForSingleObject(pump_threads[s], INFINITE);
}
