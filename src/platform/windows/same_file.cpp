// Windows: whether two handles lead to one file or one console.
#include <windows.h>

#include "platform/platform.h"

bool same_file(os_handle a, os_handle b) {
  if (a == no_handle || b == no_handle) return false;
  HANDLE first = reinterpret_cast<HANDLE>(a), second = reinterpret_cast<HANDLE>(b);
  // A process has one console: two console handles show the same one.
  DWORD mode = 0;
  bool first_console = GetConsoleMode(first, &mode) != 0;
  bool second_console = GetConsoleMode(second, &mode) != 0;
  if (first_console || second_console) return first_console && second_console;
  // Files on disk by volume and file id; pipes and devices have no id to tell them apart.
  BY_HANDLE_FILE_INFORMATION one, other;
  if (GetFileType(first) != FILE_TYPE_DISK || GetFileType(second) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(first, &one) || !GetFileInformationByHandle(second, &other))
    return false;
  return one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}
