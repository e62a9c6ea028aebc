// The client's command line, built from the wrapper's own arguments, in the system's
// characters (os_char): UTF-16 code units on Windows, bytes on POSIX. Only ASCII blanks,
// tabs, double quotes and backslashes steer the quoting and the split; every other
// character passes as it is.
#pragma once

#include <stddef.h>

#include "platform/platform.h"

// In os_char units, the terminator included.
enum { command_line_size = 2048 };

// The most words a line of command_line_size - 1 characters can hold: one character
// and a blank each.
enum { command_line_words = command_line_size / 2 };

// The client's program name when none is set: "ftp", or "ftp.exe" on Windows, found
// through the system's program search.
extern const os_char default_client[];

// The number of characters of `text` before its terminator.
size_t text_length(const os_char* text);

// Writes into `line` (command_line_size characters) the client's program name `client`
// (in double quotes when it holds a blank; it must hold no double quote itself) and a
// space, followed by each of arguments[1] to arguments[count - 1], each followed by
// one space. An argument that is not empty and holds no blank, tab or double quote is
// written as it is; any other is quoted so that the C runtime's split of a Windows
// program's command line gives it back unchanged. Returns false, with `line` still
// terminated, when that would take more than command_line_size - 1 characters.
bool build_command_line(os_char* line, const os_char* client, int count,
                        const os_char* const* arguments);

// Splits `line` as the C runtime splits a Windows program's command line, which makes it
// the inverse of build_command_line. The first word runs to the first blank or tab, or,
// when it opens with a double quote, to the next double quote. Every later word ends at
// a blank or tab outside double quotes; 2n backslashes and a double quote give n
// backslashes and open or close the quoting, 2n + 1 give n and a literal double quote,
// other backslashes are literal. Writes the words, each terminated, into `area`
// (command_line_size characters) and a pointer to each into `words` (command_line_words
// + 1 of them), then a null pointer. Returns the number of words; 0 when the line is
// longer than command_line_size - 1 characters or its first word is missing, empty or
// unclosed.
size_t split_command_line(const os_char* line, os_char* area, os_char** words);
