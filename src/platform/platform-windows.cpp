// The wrapper's operating-system operations on Windows: kernel32 alone. Not user32: a
// console program that loads it gets no logoff or shutdown event.
#include "platform.h"

#include <stdio.h>
#include <string.h>
#include <windows.h>

const os_handle no_handle = 0;

namespace {

HANDLE native(os_handle handle) { return reinterpret_cast<HANDLE>(handle); }
os_handle wrap(HANDLE handle) { return reinterpret_cast<os_handle>(handle); }
DWORD slot_id(std_slot slot) {
  return slot == std_output_slot ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

// One record for both pipes: both are created with inheritable ends.
SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

// The output and error handles a client started now gets.
HANDLE client_std[2] = {nullptr, nullptr};

// The console's request to end the wrapper, once it has come, and the event that wakes
// the relay for it.
volatile LONG stop_request = 0;
HANDLE stop_event = nullptr;

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

// The client create_process started, for stop_client and its I/O counters.
HANDLE client_process = nullptr;

// The job the client runs in, held by this process alone: when the wrapper ends, however
// it ends, its last handle closes and the client ends with it. nullptr where the system
// gives none (an older Windows, inside a job that cannot nest), and the client runs as
// it would without.
HANDLE client_job = nullptr;

bool set_job_limits(DWORD flags) {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
  ZeroMemory(&limits, sizeof limits);
  limits.BasicLimitInformation.LimitFlags = flags;
  return SetInformationJobObject(client_job, JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits) != 0;
}

void make_job() {
  client_job = CreateJobObjectW(nullptr, nullptr);
  // A program the client starts may leave the job when it asks to, as without one.
  if (client_job != nullptr &&
      !set_job_limits(JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK)) {
    CloseHandle(client_job);
    client_job = nullptr;
  }
}

// Room for a list of the handles the client inherits: a single attribute.
union {
  char bytes[128];
  void* align;
} attribute_area;

bool client_done() {
  return client_process != nullptr && WaitForSingleObject(client_process, 0) == WAIT_OBJECT_0;
}

// Waits for data and reads at most `capacity` bytes. Returns the count read, or 0 once
// every write end is closed and the data is drained, or on failure.
size_t read_pipe(HANDLE pipe, char* buffer, size_t capacity) {
  for (;;) {
    DWORD count = 0;
    if (!ReadFile(pipe, buffer, static_cast<DWORD>(capacity), &count, nullptr)) return 0;
    // A client's zero-byte write reads as success with no bytes: not the pipe's end,
    // which shows as a failed read once every write end is closed.
    if (count > 0) return count;
  }
}

DWORD WINAPI pump_one(LPVOID parameter) {
  int stream = static_cast<int>(reinterpret_cast<intptr_t>(parameter));
  for (;;) {
    // Anonymous pipes have no overlapped I/O: one blocking reader per pipe.
    size_t count = read_pipe(pump_sources[stream], pump_buffers[stream], chunk_size);
    EnterCriticalSection(&sink_lock);
    pump_sink(stream, count > 0 ? pump_buffers[stream] : nullptr, count);
    ++pump_reads;
    if (count == 0) pump_ended[stream] = true;
    LeaveCriticalSection(&sink_lock);
    if (count == 0) return 0;
  }
}

}  // namespace

os_handle get_std_handle(std_slot slot) {
  HANDLE handle = GetStdHandle(slot_id(slot));
  return handle == INVALID_HANDLE_VALUE ? no_handle : wrap(handle);
}

bool set_std_handle(std_slot slot, os_handle handle) {
  client_std[slot] = native(handle);
  return true;
}

bool create_pipe(os_handle* read_end, os_handle* write_end) {
  HANDLE read_end_handle = nullptr;
  HANDLE write_end_handle = nullptr;
  if (!CreatePipe(&read_end_handle, &write_end_handle, &inheritable, 0)) return false;
  *read_end = wrap(read_end_handle);
  *write_end = wrap(write_end_handle);
  return true;
}

bool duplicate_private(os_handle source, os_handle* copy) {
  HANDLE target = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), native(source), GetCurrentProcess(), &target, 0,
                       FALSE, DUPLICATE_SAME_ACCESS))
    return false;
  *copy = wrap(target);
  return true;
}

bool close_handle(os_handle handle) { return CloseHandle(native(handle)) != 0; }

void fill_std_handles() {}

void shield_from_signals() {
  stop_event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  // A handler, not SetConsoleCtrlHandler(NULL, TRUE): that flag would be inherited by
  // the client, which then could not be interrupted at all.
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

bool create_process(os_char* command_line) {
  STARTUPINFOEXW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  // An input handle that would not be inherited is handed over as a copy that is.
  HANDLE input_copy = nullptr;
  DWORD flags = 0;
  if (input != nullptr && input != INVALID_HANDLE_VALUE && GetHandleInformation(input, &flags) &&
      !(flags & HANDLE_FLAG_INHERIT) &&
      DuplicateHandle(GetCurrentProcess(), input, GetCurrentProcess(), &input_copy, 0, TRUE,
                      DUPLICATE_SAME_ACCESS))
    input = input_copy;
  HANDLE handles[3] = {input, client_std[0], client_std[1]};
  startup.StartupInfo.hStdInput = handles[0];
  startup.StartupInfo.hStdOutput = handles[1];
  startup.StartupInfo.hStdError = handles[2];
  // The client inherits these and nothing else the wrapper holds. Not in the list: no
  // handle at all, a repeat, and a console handle of Windows 7 (its low two bits set),
  // which the list refuses and the client gets from the console all the same.
  HANDLE inherited[3];
  DWORD count = 0;
  for (HANDLE handle : handles) {
    bool skip = handle == nullptr || handle == INVALID_HANDLE_VALUE ||
                (reinterpret_cast<uintptr_t>(handle) & 3) == 3;
    for (DWORD k = 0; k < count; ++k) skip = skip || inherited[k] == handle;
    if (!skip) inherited[count++] = handle;
  }
  SIZE_T size = sizeof attribute_area;
  startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&attribute_area);
  bool listed = InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) &&
                UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                          inherited, count * sizeof(HANDLE), nullptr, nullptr);
  // Without the list, every inheritable handle goes, as it always did.
  if (!listed) startup.StartupInfo.cb = sizeof startup.StartupInfo;
  make_job();
  // Suspended until it is in the job, so that nothing it starts slips out.
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  DWORD creation = CREATE_SUSPENDED | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  bool started = CreateProcessW(nullptr, command_line, nullptr, nullptr, TRUE, creation, nullptr,
                                nullptr, &startup.StartupInfo, &process);
  if (listed) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (input_copy != nullptr) CloseHandle(input_copy);
  if (!started) return false;
  // Inside a job that cannot nest, say: the client runs as it would without one.
  if (client_job != nullptr && !AssignProcessToJobObject(client_job, process.hProcess)) {
    CloseHandle(client_job);
    client_job = nullptr;
  }
  if (ResumeThread(process.hThread) == static_cast<DWORD>(-1)) {
    TerminateProcess(process.hProcess, 1);
    return false;
  }
  CloseHandle(process.hThread);
  client_process = process.hProcess;
  return true;
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

const char* stop_name(int stop) {
  if (stop == CTRL_CLOSE_EVENT) return "CTRL_CLOSE_EVENT";
  return stop == CTRL_LOGOFF_EVENT ? "CTRL_LOGOFF_EVENT" : "CTRL_SHUTDOWN_EVENT";
}

void end_by_stop(int) {
  // The code the console's own handler ends a process with. The job's limit stays: what
  // the client started ends with the wrapper.
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

const char* read_environment(const char* name) {
  // Read as UTF-16 and written in UTF-8, never through the ANSI code page, whose best
  // fit would make a fullwidth digit a digit. A value holds at most 32767 units.
  static wchar_t wide[32768];
  static char value[3 * 32767 + 1];
  size_t length = read_os_environment(name, wide, sizeof wide / sizeof wide[0]);
  int written = length == 0 ? 0
                            : WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), value,
                                                  static_cast<int>(sizeof value - 1), nullptr, nullptr);
  value[written > 0 ? written : 0] = '\0';
  return value;
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

int64_t clock_ms() {
  // The tick count wraps after 49.7 days; the clock is read far more often than that.
  static DWORD last = 0;
  static int64_t wraps = 0;
  DWORD now = GetTickCount();
  if (now < last) wraps += static_cast<int64_t>(1) << 32;
  last = now;
  return wraps + now;
}

size_t read_os_environment(const char* name, os_char* value, size_t capacity) {
  // Names are ASCII, and so the same in UTF-16 unit for unit.
  wchar_t wide_name[64];
  size_t n = 0;
  for (; name[n] != '\0' && n < 63; ++n) wide_name[n] = static_cast<wchar_t>(name[n]);
  wide_name[n] = L'\0';
  value[0] = L'\0';
  DWORD length = GetEnvironmentVariableW(wide_name, value, static_cast<DWORD>(capacity));
  if (length >= capacity) value[0] = L'\0';
  return length;
}

bool write_handle(os_handle handle, const char* bytes, size_t length) {
  if (handle == no_handle) return false;
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(native(handle), bytes, static_cast<DWORD>(length), &written, nullptr))
      return false;
    // A console or pipe may take less than asked; zero progress would loop forever.
    if (written == 0) return false;
    bytes += written;
    length -= written;
  }
  return true;
}

void print_text(const char* text) {
  // The runtime's stream is in text mode: it writes each line feed as CR LF.
  fputs(text, stdout);
  fflush(stdout);
}

void exit_process(int status) {
  // The client has ended, or never ran: what it started and left running stays.
  if (client_job != nullptr) set_job_limits(0);
  ExitProcess(static_cast<UINT>(status));
}

size_t format_line(char* buffer, const char* format, const char* text) {
  // By hand, with kernel32 alone: user32's wsprintfA would cost the console's logoff
  // and shutdown events.
  size_t used = 0;
  for (const char* f = format; *f != '\0' && used < line_buffer_size - 1; ++f) {
    if (f[0] == '%' && f[1] == 's') {
      for (const char* t = text; *t != '\0' && used < line_buffer_size - 1; ++t) buffer[used++] = *t;
      ++f;
      continue;
    }
    buffer[used++] = *f;
  }
  buffer[used] = '\0';
  return used;
}

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
  HANDLE waits[4];
  DWORD count = 0;
  for (int s = 0; s < 2; ++s)
    if (!pump_ended[s]) waits[count++] = pump_threads[s];
  if (watch_client && client_process != nullptr) waits[count++] = client_process;
  // Wakes once, for the console's first request to end.
  if (stop_event != nullptr) waits[count++] = stop_event;
  LeaveCriticalSection(&sink_lock);
  DWORD timeout = ms < 0 ? INFINITE : static_cast<DWORD>(ms);
  // Cannot wait on them: look again a second later, so that nothing spins.
  if (count == 0 || WaitForMultipleObjects(count, waits, FALSE, timeout) == WAIT_FAILED)
    Sleep(timeout < 1000 ? timeout : 1000);
  EnterCriticalSection(&sink_lock);
  return {pump_reads, pump_ended[0] && pump_ended[1], watch_client && client_done(),
          static_cast<int>(stop_request)};
}

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
