// Windows: the client's commands, read from a -s: script or the wrapper's standard input
// and written to a pipe of the wrapper's own, neither waiting.
#include "platform/platform.h"

#include "shared.h"

int commands_argument = 0;
os_char commands_pipe_argument[64];

namespace {

// The commands' source; a pipe is read only as far as PeekNamedPipe shows.
HANDLE source = nullptr;
bool source_is_pipe = false;
// The client's input: a named pipe, outbound, of one instance. The client opens it by
// its name (-s:) or gets the end the wrapper opened as its standard input (client_side,
// until it has started).
HANDLE pipe = nullptr;
HANDLE client_side = nullptr;
OVERLAPPED connecting;
OVERLAPPED writing;
bool connected = false;
bool write_pending = false;

// The last "-s:FILE" of the arguments; 0 when none.
int script_argument(int count, const os_char* const* arguments) {
  int found = 0;
  for (int a = 1; a < count; ++a)
    if (arguments[a][0] == L'-' && arguments[a][1] == L's' && arguments[a][2] == L':') found = a;
  return found;
}

// Appends `value` in hexadecimal at text[*used].
void put_hex(os_char* text, size_t* used, unsigned long long value) {
  for (int shift = 60; shift >= 0; shift -= 4)
    text[(*used)++] = L"0123456789abcdef"[(value >> shift) & 15];
}

// A descriptor that lets the wrapper's own user alone open the pipe: the system's
// default would let everyone read it.
bool own_user_only(SECURITY_DESCRIPTOR* descriptor) {
  static union {
    char bytes[512];
    DWORD align;
  } user, list;
  HANDLE token = nullptr;
  DWORD size = 0;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  bool known = GetTokenInformation(token, TokenUser, user.bytes, sizeof user.bytes, &size);
  CloseHandle(token);
  PACL acl = reinterpret_cast<PACL>(list.bytes);
  return known && InitializeAcl(acl, sizeof list.bytes, ACL_REVISION) &&
         AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL,
                             reinterpret_cast<TOKEN_USER*>(user.bytes)->User.Sid) &&
         InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE);
}

// Creates the pipe under a name of this run's own, and starts to wait for the client.
bool create_input(os_char* name) {
  static SECURITY_DESCRIPTOR descriptor;
  if (!own_user_only(&descriptor)) return false;
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, &descriptor, FALSE};
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  const os_char prefix[] = L"\\\\.\\pipe\\veskar-";
  size_t used = 0;
  for (; prefix[used] != 0; ++used) name[used] = prefix[used];
  put_hex(name, &used, GetCurrentProcessId());
  put_hex(name, &used, static_cast<unsigned long long>(now.QuadPart));
  name[used] = 0;
  // One instance, and the first of its name: no other process can serve it instead.
  pipe = CreateNamedPipeW(name, PIPE_ACCESS_OUTBOUND | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED,
                          PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, 64 * 1024, 0, 0,
                          &attributes);
  if (pipe == INVALID_HANDLE_VALUE) pipe = nullptr;
  connecting.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  writing.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (pipe == nullptr || connecting.hEvent == nullptr || writing.hEvent == nullptr) return false;
  return ConnectNamedPipe(pipe, &connecting) || GetLastError() == ERROR_IO_PENDING ||
         GetLastError() == ERROR_PIPE_CONNECTED;
}

// Whether the client has opened the pipe. Only the client may read its commands: when
// another process took the pipe first, the commands never go.
bool client_connected(bool* refused) {
  *refused = false;
  if (connected) return true;
  DWORD ignored = 0;
  if (!GetOverlappedResult(pipe, &connecting, &ignored, FALSE) && GetLastError() != ERROR_PIPE_CONNECTED) {
    *refused = GetLastError() != ERROR_IO_INCOMPLETE;
    return false;
  }
  ULONG reader = 0;
  *refused = !GetNamedPipeClientProcessId(pipe, &reader) || reader != GetProcessId(client_process);
  connected = !*refused;
  return connected;
}

}  // namespace

commands_route open_commands(int count, const os_char* const* arguments) {
  int script = script_argument(count, arguments);
  // A script the wrapper cannot read goes to the client as it is, which says so itself.
  if (script > 0) {
    source = CreateFileW(arguments[script] + 3, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (source == INVALID_HANDLE_VALUE) script = 0;
  }
  DWORD mode = 0;
  if (script == 0) {
    source = GetStdHandle(STD_INPUT_HANDLE);
    if (source != nullptr && source != INVALID_HANDLE_VALUE && GetConsoleMode(source, &mode))
      return commands_typed;
  }
  source_is_pipe = GetFileType(source) == FILE_TYPE_PIPE;
  static os_char name[64];
  if (!create_input(name)) return commands_unrouted;
  if (script > 0) {
    const os_char option[] = L"-s:";
    size_t used = 0;
    for (; option[used] != 0; ++used) commands_pipe_argument[used] = option[used];
    for (size_t n = 0; name[n] != 0; ++n) commands_pipe_argument[used++] = name[n];
    commands_pipe_argument[used] = 0;
    commands_argument = script;
    return commands_piped;
  }
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  client_side = CreateFileW(name, GENERIC_READ, 0, &inheritable, OPEN_EXISTING, 0, nullptr);
  if (client_side == INVALID_HANDLE_VALUE) return commands_unrouted;
  connected = true;
  set_std_handle(std_input_slot, wrap(client_side));
  return commands_piped;
}

size_t read_commands(char* buffer, size_t capacity, bool* ended) {
  *ended = false;
  DWORD want = static_cast<DWORD>(capacity);
  bool peeked = false;
  if (source_is_pipe) {
    DWORD held = 0;
    peeked = PeekNamedPipe(source, nullptr, 0, nullptr, &held, nullptr);
    if (peeked && held == 0) return 0;
    if (peeked && held < want) want = held;
    if (!peeked && GetLastError() != ERROR_NOT_SUPPORTED) {
      *ended = true;  // its writer has gone
      return 0;
    }
    // Wine cannot look into a pipe of its host system: there the read waits for bytes,
    // and reads none at the end.
  }
  DWORD count = 0;
  if (source == nullptr || source == INVALID_HANDLE_VALUE || !ReadFile(source, buffer, want, &count, nullptr) ||
      (count == 0 && !peeked))
    *ended = true;
  return count;
}

size_t commands_held() {
  DWORD held = 0;
  if (source_is_pipe) return PeekNamedPipe(source, nullptr, 0, nullptr, &held, nullptr) ? held : 0;
  LARGE_INTEGER size, at, none = {};
  if (GetFileType(source) != FILE_TYPE_DISK || !GetFileSizeEx(source, &size) ||
      !SetFilePointerEx(source, none, &at, FILE_CURRENT) || size.QuadPart <= at.QuadPart)
    return 0;
  return static_cast<size_t>(size.QuadPart - at.QuadPart);
}

bool write_commands(const char* bytes, size_t length, size_t* taken) {
  *taken = 0;
  bool refused = false;
  if (pipe == nullptr) return false;
  if (!client_connected(&refused)) return !refused;
  if (!write_pending) {
    ResetEvent(writing.hEvent);
    if (!WriteFile(pipe, bytes, static_cast<DWORD>(length), nullptr, &writing) && GetLastError() != ERROR_IO_PENDING)
      return false;
    write_pending = true;
  }
  // A write the client has not made room for yet completes once it reads.
  DWORD done = 0;
  if (!GetOverlappedResult(pipe, &writing, &done, FALSE)) return GetLastError() == ERROR_IO_INCOMPLETE;
  write_pending = false;
  *taken = done;
  return true;
}

void close_commands() {
  if (pipe == nullptr) return;
  DWORD ignored = 0;
  if (write_pending || !connected) {
    CancelIoEx(pipe, nullptr);
    GetOverlappedResult(pipe, write_pending ? &writing : &connecting, &ignored, TRUE);
  }
  // Closed, not disconnected: the client still reads what it was given, then the end.
  CloseHandle(pipe);
  pipe = nullptr;
}

const char* start_commands() {
  if (client_side != nullptr) CloseHandle(client_side);
  client_side = nullptr;
  return nullptr;
}
