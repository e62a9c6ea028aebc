#include "command_line.h"

// Found through PATH.
const os_char default_client[] = "ftp";
