// The client's commands, handed to it a line at a time (VESKAR_ON_FAILURE=stop): where
// they come from, the client's input, and whether the client waits for its next line.
// Each system has its own implementation (commands.cpp, waiting.cpp in
// src/platform/posix/ and src/platform/windows/).
#pragma once

#include <stddef.h>

#include "platform/platform.h"

// Where the commands come from.
enum commands_route {
  commands_piped,     // open_commands set up the client's input: lines are handed over
  commands_typed,     // a person types them at a terminal or console: nothing set up
  commands_unrouted,  // the client's input could not be set up
};

// Sets up the route of the client's commands. Their source is the wrapper's standard
// input; on Windows it is the file of the last "-s:FILE" of arguments[1, count) when the
// wrapper can read it, and then the client gets "-s:" and the name of the wrapper's pipe
// in that argument's place (`arguments` stay as they are). Otherwise the client reads
// the pipe as its standard input, which create_process hands it.
commands_route open_commands(int count, const os_char* const* arguments);

// Reads at most `capacity` bytes of the commands without waiting for more. Returns the
// count: 0 with *ended set once the source has ended (or failed), 0 alone while it holds
// nothing now.
size_t read_commands(char* buffer, size_t capacity, bool* ended);

// How many bytes of the commands the source holds now: the rest of a file, what a pipe
// holds; 0 where the system does not say. Reading them does not wait.
size_t commands_held();

// Writes the start of bytes[0, length) to the client's input without waiting for room,
// and says in *taken how much it took. What was not taken must be offered again, at the
// same place and unchanged, until it is. False once the client no longer reads its
// input.
bool write_commands(const char* bytes, size_t length, size_t* taken);

// Ends the client's input: it reads what it was given, then the end of its input.
void close_commands();

// Whether the client waits for input by its prompts (Windows), which the caller judges,
// rather than by what the system tells of it (Linux).
extern const bool waiting_shown_by_prompt;

// nullptr when the wrapper can tell that a client started now waits for its next line;
// else why not, for report_fatal. Linux reads the client's /proc/PID/syscall, which
// needs /proc and the right to trace the client (Yama's ptrace_scope 2 leaves that to
// the capability to trace, 3 to nobody); other POSIX systems cannot. Windows always can.
const char* waiting_unseen();

// After create_process: closes the wrapper's copy of the client's end of its input.
// Returns nullptr, or why the wrapper cannot tell when this client waits after all
// (Linux: it cannot read the client's /proc files, which it keeps open).
const char* start_commands();

// The pump's part (pump.cpp), before start_pump: pump_wait then returns soon after a
// read is handed on (POSIX always does), and pump_holds_output, called beside pump_wait,
// misses no byte the client wrote before it (Windows: a reader is marked before it takes
// bytes).
void pump_watch_reads();

// Whether the client waits for its next line now, and everything it printed before is
// read and handed on (pump_holds_output). Linux: its input pipe is empty, and it sleeps
// (state S) in a read of descriptor 0. Windows: `prompt_shown`, the caller's verdict on
// what it printed since its last line.
bool client_waits(bool prompt_shown);
