// Failure messages of the POSIX ftp clients (inetutils-ftp, tnftp) that
// error_signatures does not hold, as they print them. Most are the C library's
// texts after the client's own words, which differ between the two clients.
#include "signatures.h"

const char* const client_signatures[] = {
    "No such file or directory",             // a local file or directory that is not there;
                                             // also the server's text when no -v hides the code
    "Permission denied",                     // a local file that cannot be read or written
    "Connection refused",                    // nothing listens on the server's port
    "Network is unreachable",                // no route to the server at all
    "Name or service not known",             // a host name that does not resolve
    "Temporary failure in name resolution",  // a host name with no name server to ask
    "ftp: Login failed",                     // tnftp's automatic login, no period
    "Passive mode refused.",                 // a data command the server turned down
};
const size_t client_signature_count = 8;
static_assert(sizeof client_signatures / sizeof client_signatures[0] == 8, "count must match");
