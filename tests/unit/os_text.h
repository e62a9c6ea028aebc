// Text in the system's characters (os_char) for the unit tests.
#pragma once

#include <string>

#include "platform/platform.h"

typedef std::basic_string<os_char> os_string;

// A literal in os_char: UTF-16 on Windows, the compiler's UTF-8 bytes elsewhere, so that
// one "\u0141" is the same character on both.
#ifdef _WIN32
#define OS_TEXT(literal) L##literal
#else
#define OS_TEXT(literal) literal
#endif

// ASCII text in os_char, character for character.
inline os_string ascii(const std::string& text) { return os_string(text.begin(), text.end()); }
