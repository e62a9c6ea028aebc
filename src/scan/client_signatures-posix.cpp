// Failure messages of the POSIX ftp clients that error_signatures does not hold.
#include "scan.h"

const char* const client_signatures[] = {nullptr};
const size_t client_signature_count = 0;
