// Failure messages of the command-line ftp clients that error_signatures does not
// hold, as they print them: inetutils-ftp and tnftp on POSIX, and the BSD-derived
// ports a Windows machine may find before its own ftp.exe. Most are the C library's
// texts, which they print after a failed operation.
#include "scan/signatures.h"

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

const library_message client_signature_sources[] = {
    library_no_entry,        library_access,        library_refused,      library_net_unreachable,
    library_name_unknown,    library_name_lookup,   library_none,         library_none,
    library_no_space,        library_is_directory,  library_not_directory, library_name_too_long,
    library_io,              library_read_only,     library_quota,        library_too_large,
    library_timed_out,       library_reset,         library_broken_pipe,  library_host_unreachable,
    library_host_down,
};
static_assert(sizeof client_signature_sources / sizeof client_signature_sources[0] ==
                  sizeof client_signatures / sizeof client_signatures[0],
              "a source for every entry");
static_assert(sizeof client_signatures / sizeof client_signatures[0] <= max_client_signatures,
              "room for every entry's words in the client's language");
