#include "command_line.h"

// Found through PATH.
const char client_prefix[] = "ftp ";
