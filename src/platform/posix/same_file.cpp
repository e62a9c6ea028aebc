// POSIX: whether two descriptors lead to one file.
#include <sys/stat.h>

#include "platform/platform.h"

bool same_file(os_handle a, os_handle b) {
  struct stat first, second;
  if (a == no_handle || b == no_handle) return false;
  if (fstat(static_cast<int>(a), &first) != 0 || fstat(static_cast<int>(b), &second) != 0) return false;
  // One file, one terminal or one pipe: the same device and inode.
  return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}
