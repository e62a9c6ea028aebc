// The client's command line on Windows, built from the wrapper's own arguments in the
// system's characters (os_char: UTF-16 code units there). Only ASCII blanks, tabs,
// double quotes and backslashes steer the quoting; every other character passes as it
// is. Pure code, so that the unit tests and the fuzzer build it on every system.
#pragma once

#include "platform/platform.h"

// In os_char units, the terminator included: Windows's bound of 2047 and one.
enum { command_line_size = 2048 };

// Writes into `line` (command_line_size characters) the client's program name `client`
// (in double quotes when it holds a blank; it must hold no double quote itself) and a
// space, followed by each of arguments[1] to arguments[count - 1], each followed by
// one space. An argument that is not empty and holds no blank, tab or double quote is
// written as it is; any other is quoted so that the C runtime's split of a Windows
// program's command line gives it back unchanged. Returns false, with `line` still
// terminated, when that would take more than command_line_size - 1 characters.
bool build_command_line(os_char* line, const os_char* client, int count,
                        const os_char* const* arguments);
