// Failure messages of the command-line ftp clients that error_signatures does not
// hold, as they print them: inetutils-ftp and tnftp on POSIX, and the BSD-derived
// ports a Windows machine may find before its own ftp.exe. Most are the C library's
// texts after the client's own words, which differ between clients; they turn up in a
// client's own lines only after a failed operation.
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
    // A local file that cannot be written or read whole: the data never arrived.
    "No space left on device",
    "Is a directory",
    "Not a directory",
    "File name too long",
    "Input/output error",
    "Read-only file system",
    "Disk quota exceeded",
    "File too large",
    // A connection that failed or broke off.
    "Connection timed out",
    "Connection reset by peer",
    "Broken pipe",
    "No route to host",
    "Host is down",
};
const size_t client_signature_count = sizeof client_signatures / sizeof client_signatures[0];
