// How the client writes its text: the encodings it may use, and the C library's
// failure texts in the language it runs in. One implementation file per system.
#pragma once

#include <stddef.h>

#include "platform.h"
#include "scan/signatures.h"

enum { max_client_encodings = 3 };

// The encodings a client may write its text in: on Windows the OEM code page (the
// console's), the ANSI code page and UTF-8; on POSIX one, the bytes as they are.
size_t client_encoding_count();

// Writes `text` (`length` units) in client encoding `encoding` into `out` (`capacity`
// bytes), with no best fit. Returns the bytes written; 0 where that encoding cannot
// write every character of the text exactly, or they do not fit.
size_t encode_for_client(const os_char* text, size_t length, size_t encoding, char* out,
                         size_t capacity);

// Writes into texts[m] (`text_size` bytes each) the C library's words for
// messages[m], m below `count`, in the locale a client started now runs in: the one its
// own setlocale takes from the environment (LC_ALL, LC_MESSAGES, LANG), and their
// length into lengths[m]. A length is 0 where there is no such locale, or the library
// has no text of the kind (library_none; Windows, whose runtime speaks English only).
// In the C locale the words are the table's own.
void localize_library_messages(const library_message* messages, size_t count, char* texts,
                               size_t text_size, size_t* lengths);
