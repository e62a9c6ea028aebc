// The tables of known failure messages the search looks for.
#pragma once

#include <stddef.h>

enum { signature_count = 79, signature_slot = 60, max_client_signatures = 32 };

// The known failure messages, in search order. Some texts stand twice, on purpose:
// each entry is reported by itself.
extern const char error_signatures[signature_count][signature_slot];

// Further failure messages of the clients, searched after error_signatures and counted
// only before a line's first reply. At most max_client_signatures, each of at least
// min_entry_length characters (index.h), which a test checks.
extern const char* const client_signatures[];
extern const size_t client_signature_count;

// The C library's failure texts, by what they say: most client_signatures entries are
// one, in the English of the C locale, and a client started in another locale prints
// them in its language.
enum library_message {
  library_none,  // the client's own words
  library_no_entry,
  library_access,
  library_refused,
  library_net_unreachable,
  library_name_unknown,  // a name lookup's, not errno's
  library_name_lookup,   // likewise
  library_no_space,
  library_is_directory,
  library_not_directory,
  library_name_too_long,
  library_io,
  library_read_only,
  library_quota,
  library_too_large,
  library_timed_out,
  library_reset,
  library_broken_pipe,
  library_host_unreachable,
  library_host_down,
};

// Which C library text each client_signatures entry is.
extern const library_message client_signature_sources[];
