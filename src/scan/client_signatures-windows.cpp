// ftp.exe's failure messages are all in error_signatures: nothing to add.
#include "signatures.h"

const char* const client_signatures[] = {nullptr};
const size_t client_signature_count = 0;
