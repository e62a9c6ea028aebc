#include "command_line.h"

// Found through the system's program search.
const char client_prefix[] = "ftp.exe ";
