// Windows: the record's file, wall clock and host name, and text in UTF-8.
#include "shared.h"

#include "utf8.h"

namespace {

bool whole_utf8(const char* bytes, size_t length) {
  for (size_t at = 0; at < length;) {
    size_t size = utf8_character(bytes + at, length - at);
    if (size == 0) return false;
    at += size;
  }
  return true;
}

}  // namespace

os_handle open_for_append(const os_char* path) {
  // FILE_APPEND_DATA alone: every write goes to the end, whoever else appends. Shared,
  // so that other runs can append at the same time and a rotation can rename the file
  // while a run holds it; not inheritable.
  HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? no_handle : wrap(file);
}

bool is_pipe(os_handle handle) { return GetFileType(native(handle)) == FILE_TYPE_PIPE; }

size_t write_once(os_handle handle, const char* bytes, size_t length) {
  DWORD written = 0;
  if (!WriteFile(native(handle), bytes, static_cast<DWORD>(length), &written, nullptr))
    return 0;
  return written;
}

int64_t wall_clock_ms() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  // 100-nanosecond steps since 1601-01-01.
  uint64_t steps = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<int64_t>(steps / 10000) - 11644473600000LL;
}

size_t os_text_in_utf8(const os_char* text, size_t length, char* out, size_t capacity) {
  // Flags 0: a lone surrogate becomes U+FFFD rather than failing the whole text.
  int written = length == 0 ? 0
                            : WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out,
                                                  static_cast<int>(capacity), nullptr, nullptr);
  if (written > 0) return static_cast<size_t>(written);
  // Too long for `out`: the longest start that fits, whole characters only.
  size_t fits = 0;
  for (size_t units = 1; units <= length; ++units) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(units), nullptr, 0, nullptr,
                                   nullptr);
    if (size <= 0 || static_cast<size_t>(size) > capacity) break;
    fits = units;
  }
  return fits == 0 ? 0 : os_text_in_utf8(text, fits, out, capacity);
}

size_t host_name(char* name, size_t capacity) {
  wchar_t wide[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(wide, &size)) return 0;
  size_t length = os_text_in_utf8(wide, size, name, capacity - 1);
  name[length] = '\0';
  return length;
}

size_t client_text_in_utf8(const char* bytes, size_t length, size_t encoding, char* out, size_t capacity) {
  // Not known: UTF-8 where the whole is UTF-8, else the console's page, ftp.exe's.
  if (encoding == unknown_encoding) encoding = whole_utf8(bytes, length) ? utf8_encoding : oem_encoding;
  if (encoding == utf8_encoding) return repair_utf8(bytes, length, out, capacity);
  static wchar_t wide[4096];
  int units = MultiByteToWideChar(encoding == ansi_encoding ? CP_ACP : CP_OEMCP, 0, bytes,
                                  static_cast<int>(length < 4096 ? length : 4096), wide, 4096);
  return units > 0 ? os_text_in_utf8(wide, static_cast<size_t>(units), out, capacity) : 0;
}
