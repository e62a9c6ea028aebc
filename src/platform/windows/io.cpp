// Windows: standard handles, pipes and writes; the environment, the clock and the
// report's formatting. kernel32 alone: not user32, since a console program that loads it
// gets no logoff or shutdown event.
#include "shared.h"

#include <stdio.h>

const os_handle no_handle = 0;

HANDLE client_std[3] = {nullptr, nullptr, nullptr};

namespace {

DWORD slot_id(std_slot slot) {
  return slot == std_output_slot ? STD_OUTPUT_HANDLE : slot == std_error_slot ? STD_ERROR_HANDLE : STD_INPUT_HANDLE;
}

// One record for both pipes: both are created with inheritable ends.
SECURITY_ATTRIBUTES inheritable = {sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};

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

int64_t clock_ms() {
  // The tick count wraps after 49.7 days; the clock is read far more often than that.
  static DWORD last = 0;
  static int64_t wraps = 0;
  DWORD now = GetTickCount();
  if (now < last) wraps += static_cast<int64_t>(1) << 32;
  last = now;
  return wraps + now;
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
  // The client's job, if any, keeps its limit: a run that fails once the client has
  // started takes the client with it, unless release_client_job has lifted it.
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
