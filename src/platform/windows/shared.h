// What the Windows rooms of the platform hand each other: the client's handles, process
// and job, and the console's stop request. Nothing outside src/platform/windows
// includes it.
#pragma once

#include <windows.h>

#include "platform/platform.h"

inline HANDLE native(os_handle handle) { return reinterpret_cast<HANDLE>(handle); }
inline os_handle wrap(HANDLE handle) { return reinterpret_cast<os_handle>(handle); }

// io: the output, error and input handles a client started now gets (by std_slot);
// nullptr for input: the wrapper's own.
extern HANDLE client_std[3];

// client_text: the client encodings' numbers: the console's (OEM) code page, the ANSI
// one, UTF-8.
enum { oem_encoding, ansi_encoding, utf8_encoding };

// stop_events: the console's request to end the wrapper once it has come, and the event
// that wakes the relay for it (nullptr without).
extern volatile LONG stop_request;
extern HANDLE stop_event;

// client: the client create_process started, for the calls that stop, wait on and
// count it; nullptr before.
extern HANDLE client_process;

// client: whether the client has ended.
bool client_done();

// program_search: whether a client's program name holds a path (a \, / or :), which is
// taken as given, not searched.
bool names_a_path(const os_char* program);

// program_search: finds `program`, a bare name, with .exe where it has no extension, in
// the wrapper's folder, the system folders and PATH, never the current folder, and
// writes its path into `path` (32768 units). False, with ERROR_FILE_NOT_FOUND, where it
// is in none.
bool find_program(const os_char* program, os_char* path);

// commands: the argument whose "-s:FILE" the client gets as "-s:" and the name of the
// wrapper's pipe (commands_pipe_argument) in its place; 0 for none.
extern int commands_argument;
extern os_char commands_pipe_argument[];
