#include "command_line.h"

// Found through the system's program search.
const os_char default_client[] = L"ftp.exe";
