// The client's prompts: whether its line on stdout so far shows that it waits for input,
// where the system cannot tell (Windows). Pure code, the same on every system.
#pragma once

#include <stddef.h>

// Forgets the line so far: the client's stdout starts anew.
void start_prompt_line();

// Takes bytes of the client's stdout, in order.
void note_prompt_output(const char* bytes, size_t length);

// Whether the line so far (since its last line feed) is a prompt the client prints right
// before it reads: "ftp> ", once or more; after any of those, a login prompt that starts
// "User (" or "Name (" and ends "): ", "Password:" with or without one blank after it, or
// a question of mput, mget or mdelete ("mget a.txt? "); or a line that ends with one of
// VESKAR_PROMPTS's texts, or with one and a blank. A reply on its way ("550 x: ") is none.
bool prompt_shown();
