#include "command_line.h"

// Found through the system's program search.
const char default_client[] = "ftp.exe";
