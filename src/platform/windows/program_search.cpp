// Windows: where the client's program is found, as Windows finds it with
// NoDefaultCurrentDirectoryInExePath set: never in the current folder, where a nightly
// job's downloads land.
#include "shared.h"

namespace {

enum { path_size = 32768 };  // the longest path Windows takes, and its terminator

// Writes folder[0, length), a backslash where it needs one, and `name` into `path`.
bool join(os_char* path, const os_char* folder, size_t length, const os_char* name) {
  size_t used = 0;
  for (; used < length && used + 1 < path_size; ++used) path[used] = folder[used];
  if (used > 0 && used + 1 < path_size && path[used - 1] != L'\\' && path[used - 1] != L'/')
    path[used++] = L'\\';
  for (const os_char* c = name; *c != L'\0'; ++c)
    if (used + 1 < path_size) path[used++] = *c;
  path[used] = L'\0';
  return used + 1 < path_size;
}

// Whether `folder` (`length` units) is a whole path, one that neither the current folder
// nor the current drive completes ("bin", ".", a path from the root alone are not).
bool absolute(const os_char* folder, size_t length) {
  bool drive = length >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/');
  bool share = length >= 2 && (folder[0] == L'\\' || folder[0] == L'/') && folder[1] == folder[0];
  return drive || share;
}

// Whether `folder` (`length` units) holds the program file `name`: then its path is in `path`.
bool holds(const os_char* folder, size_t length, const os_char* name, os_char* path) {
  if (!absolute(folder, length) || !join(path, folder, length, name)) return false;
  DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The folder of the wrapper's own program, its length into *length.
const os_char* own_folder(size_t* length) {
  static os_char own[path_size];
  DWORD size = GetModuleFileNameW(nullptr, own, path_size);
  *length = size > 0 && size < path_size ? size : 0;
  while (*length > 0 && own[*length - 1] != L'\\' && own[*length - 1] != L'/') --*length;
  return own;
}

}  // namespace

bool names_a_path(const os_char* program) {
  for (const os_char* c = program; *c != L'\0'; ++c)
    if (*c == L'\\' || *c == L'/' || *c == L':') return true;
  return false;
}

bool find_program(const os_char* program, os_char* path) {
  // The program search's default extension.
  static os_char name[path_size];
  bool extension = false;
  size_t used = 0;
  for (const os_char* c = program; *c != L'\0' && used + 5 < path_size; ++c) {
    extension = extension || *c == L'.';
    name[used++] = *c;
  }
  for (const os_char* c = extension ? L"" : L".exe"; *c != L'\0'; ++c) name[used++] = *c;
  name[used] = L'\0';
  static os_char folder[path_size];
  size_t length = 0;
  const os_char* own = own_folder(&length);
  if (holds(own, length, name, path)) return true;
  length = GetSystemDirectoryW(folder, path_size);
  if (length < path_size && holds(folder, length, name, path)) return true;
  length = GetWindowsDirectoryW(folder, path_size);
  if (length < path_size && holds(folder, length, name, path)) return true;
  static os_char search[path_size];
  DWORD size = GetEnvironmentVariableW(L"PATH", search, path_size);
  if (size >= path_size) size = 0;
  // Entries separated by ';', each perhaps in double quotes.
  for (DWORD start = 0; start < size;) {
    DWORD end = start;
    while (end < size && search[end] != L';') ++end;
    DWORD first = start, last = end;
    while (first < last && search[first] == L'"') ++first;
    while (last > first && search[last - 1] == L'"') --last;
    if (holds(search + first, last - first, name, path)) return true;
    start = end + 1;
  }
  SetLastError(ERROR_FILE_NOT_FOUND);
  return false;
}
