// Windows: whether two handles lead to one file or one console.
#include <string.h>
#include <windows.h>

#include "platform/platform.h"

namespace {

// A file's volume and id: its identity (FileIdInfo from Windows 8 on; before, the older
// query). False where neither is to be had.
bool file_identity(HANDLE file, FILE_ID_INFO* id) {
  memset(id, 0, sizeof *id);
  if (GetFileInformationByHandleEx(file, FileIdInfo, id, sizeof *id)) return true;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return false;
  id->VolumeSerialNumber = info.dwVolumeSerialNumber;
  DWORD index[2] = {info.nFileIndexLow, info.nFileIndexHigh};
  memcpy(id->FileId.Identifier, index, sizeof index);
  return true;
}

}  // namespace

bool same_file(os_handle a, os_handle b) {
  if (a == no_handle || b == no_handle) return false;
  HANDLE first = reinterpret_cast<HANDLE>(a), second = reinterpret_cast<HANDLE>(b);
  // A process has one console: two console handles show the same one.
  DWORD mode = 0;
  bool first_console = GetConsoleMode(first, &mode) != 0;
  bool second_console = GetConsoleMode(second, &mode) != 0;
  if (first_console || second_console) return first_console && second_console;
  // Files on disk by volume and file id; pipes and devices have no id to tell them apart.
  FILE_ID_INFO one, other;
  return GetFileType(first) == FILE_TYPE_DISK && GetFileType(second) == FILE_TYPE_DISK &&
         file_identity(first, &one) && file_identity(second, &other) && memcmp(&one, &other, sizeof one) == 0;
}
