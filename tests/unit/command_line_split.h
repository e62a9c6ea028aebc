// The C runtime's split of a Windows program's command line: the judge of the client's
// quoting for the unit tests and the fuzzer, on every system.
#pragma once

#include <vector>

#include "os_text.h"

// The words of `line`, the program's first. The program word runs to the first blank
// or tab, or, when it opens with a double quote, to the next one (no word at all when
// that never comes). Every later word ends at a blank or tab outside double quotes;
// 2n backslashes and a double quote give n backslashes and open or close the quoting,
// 2n + 1 give n and a literal double quote, other backslashes are literal.
std::vector<os_string> split_command_line(const os_string& line);
