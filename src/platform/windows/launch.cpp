// Windows: the client's launch: its command line, the handles it inherits, and the job
// that ends it with the wrapper.
#include "shared.h"

#include "command_line.h"

// Found through the program search, as every bare name is.
const os_char default_client[] = L"ftp.exe";

namespace {

// The client's command line, as CreateProcessW takes it: it may change the characters.
os_char command_line[command_line_size];

// The program found, and the one create_process last tried.
os_char found_program[32768];
const os_char* tried = default_client;

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

// Builds the client's command line from the wrapper's arguments, with the wrapper's pipe
// in place of a -s: script it feeds (commands.cpp).
bool build_client_line(const os_char* program, int count, const os_char* const* arguments) {
  if (commands_argument == 0) return build_command_line(command_line, program, count, arguments);
  // Past this many words the line cannot fit anyway: each takes two characters at least.
  static const os_char* words[command_line_size / 2 + 2];
  if (count > static_cast<int>(sizeof words / sizeof words[0])) return false;
  for (int a = 0; a < count; ++a) words[a] = a == commands_argument ? commands_pipe_argument : arguments[a];
  return build_command_line(command_line, program, count, words);
}

}  // namespace

void release_client_job() {
  if (client_job != nullptr) set_job_limits(0);
}

bool command_line_fits(const os_char* program, int count, const os_char* const* arguments) {
  return build_client_line(program, count, arguments);
}

const os_char* tried_program() { return tried; }

bool create_process(const os_char* program, int count, os_char** arguments) {
  if (!build_client_line(program, count, arguments)) return false;
  // A bare name is looked for by the search, and started by the path it found: the
  // command line's first word stays the name. A path is Windows's to resolve, as given.
  tried = program;
  const os_char* application = nullptr;
  if (!names_a_path(program)) {
    if (!find_program(program, found_program)) return false;
    application = tried = found_program;
  }
  STARTUPINFOEXW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.StartupInfo.cb = sizeof startup;
  startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  HANDLE input = client_std[2] != nullptr ? client_std[2] : GetStdHandle(STD_INPUT_HANDLE);
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
  DWORD inherited_count = 0;
  for (HANDLE handle : handles) {
    bool skip = handle == nullptr || handle == INVALID_HANDLE_VALUE ||
                (reinterpret_cast<uintptr_t>(handle) & 3) == 3;
    for (DWORD k = 0; k < inherited_count; ++k) skip = skip || inherited[k] == handle;
    if (!skip) inherited[inherited_count++] = handle;
  }
  SIZE_T size = sizeof attribute_area;
  startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&attribute_area);
  bool listed = InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size) &&
                UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                          inherited, inherited_count * sizeof(HANDLE), nullptr, nullptr);
  // Without the list, every inheritable handle goes, as it always did.
  if (!listed) startup.StartupInfo.cb = sizeof startup.StartupInfo;
  make_job();
  // Suspended until it is in the job, so that nothing it starts slips out.
  PROCESS_INFORMATION process;
  ZeroMemory(&process, sizeof process);
  DWORD creation = CREATE_SUSPENDED | (listed ? EXTENDED_STARTUPINFO_PRESENT : 0);
  bool started = CreateProcessW(application, command_line, nullptr, nullptr, TRUE, creation, nullptr,
                                nullptr, &startup.StartupInfo, &process);
  DWORD failure = GetLastError();
  if (listed) DeleteProcThreadAttributeList(startup.lpAttributeList);
  if (input_copy != nullptr) CloseHandle(input_copy);
  if (!started) {
    SetLastError(failure);  // for describe_failure
    return false;
  }
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
