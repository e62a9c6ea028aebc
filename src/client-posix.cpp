#include "command_line.h"

// Found through PATH.
const char default_client[] = "ftp";
