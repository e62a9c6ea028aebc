// The tables of known failure messages the search looks for.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

enum { signature_count = 79, signature_slot = 60, max_client_signatures = 32 };

// The known failure messages, in search order. Some texts stand twice, on purpose:
// each entry is reported by itself.
extern const char error_signatures[signature_count][signature_slot];

// Further failure messages of the clients, searched after error_signatures and counted
// only before a line's first reply. At most max_client_signatures, each of at least
// min_entry_length characters (index.h), which a test checks.
extern const char* const client_signatures[];
extern const size_t client_signature_count;

// Which C library text (library_message) each client_signatures entry is: most are
// one, in the English of the C locale, which a client started in another locale prints
// in its language.
extern const library_message client_signature_sources[];
