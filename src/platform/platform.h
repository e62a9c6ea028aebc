// The operating-system operations the wrapper relies on. Each system has one
// implementation file, picked by the build; nothing outside it names a system call.
#pragma once

#include <stddef.h>
#include <stdint.h>

// An open handle (Windows) or file descriptor (POSIX), or no_handle.
typedef intptr_t os_handle;
extern const os_handle no_handle;

// A character of command lines, paths and environment values as the system passes
// them: a UTF-16 code unit on Windows, whose ANSI functions would swap what their code
// page lacks for a look-alike, and a byte on POSIX. os_main is the program's entry,
// which takes its arguments so.
#ifdef _WIN32
typedef wchar_t os_char;
#define os_main wmain
#else
typedef char os_char;
#define os_main main
#endif

// Which of the process's standard handles an operation concerns.
enum std_slot { std_output_slot, std_error_slot };

// The process's standard handle of that kind as the process has it now; no_handle when
// the process has none.
os_handle get_std_handle(std_slot slot);

// Makes `handle` the standard handle of that kind that a client started afterwards
// takes. False on failure.
bool set_std_handle(std_slot slot, os_handle handle);

// Creates an anonymous byte pipe with the system's default buffer size. Either end can
// be handed to a client through set_std_handle. False on failure.
bool create_pipe(os_handle* read_end, os_handle* write_end);

// Whether two handles lead to the same file, terminal, console or pipe: then whatever is
// written to either lands in one place, in the order of the writes.
bool same_file(os_handle a, os_handle b);

// Stores in *copy a second handle to the same object that no client ever inherits.
bool duplicate_private(os_handle source, os_handle* copy);

// Closes a handle. Closing the last write end of a pipe lets its reader see the end.
bool close_handle(os_handle handle);

// Gives the process the standard input, output and error it was started without (the
// null device), so that no handle it makes later takes one of their places: a client
// would get that handle as its own. Nothing on Windows, whose handles have no such places.
void fill_std_handles();

// Makes sure that Ctrl+C and its kin, and a closed standard output, cannot end the
// wrapper, while a client started afterwards still gets them as usual.
void shield_from_signals();

// Starts the client that the first word of `command_line` names, found by the system's
// program search, with the standard handles set through set_std_handle. The client
// gets the words split_command_line takes from the line (on Windows, its own runtime
// takes them). May change the characters of `command_line`. True only once the client
// has really started. The client is kept for stop_client and its kin.
// It gets the standard handles and nothing the wrapper holds besides (on POSIX, what the
// wrapper inherited still passes). It does not outlive the wrapper: on Windows it runs
// in a job that ends with the wrapper, where the system gives one; on Linux it gets
// SIGTERM when the wrapper dies, even of SIGKILL. From now on a request to stop the
// wrapper (SIGTERM or SIGHUP not ignored at start; the console's close, logoff or
// shutdown) no longer ends it: pump_wait reports it.
bool create_process(os_char* command_line);

// How the client that create_process started ended.
enum end_kind {
  ended_unknown,      // not known: another process reaped it, say
  ended_with_status,  // code: its exit status; on Windows the whole 32-bit exit code
  ended_by_signal,    // code: the signal's number (POSIX)
};
struct client_end {
  end_kind kind;
  unsigned long code;
};

// Waits for the client to end, then says how it ended.
client_end client_ending();

enum { stop_grace_seconds = 3 };

// Stops the client that create_process started: at once on Windows; on POSIX with a
// request to end (SIGTERM), then for certain (SIGKILL) when it is still there
// stop_grace_seconds later. Returns once it has ended, or at the latest
// stop_grace_seconds after the SIGKILL. Its own children are left alone.
void stop_client();

// A request to stop the wrapper, as pump_wait reports it: the signal's number on POSIX,
// the console event's on Windows; 0 for none.

// Passes a stop request on to the client: the same signal on POSIX; on Windows, whose
// console gives the client the same event, it ends the client at once. Nothing once the
// client has ended.
void pass_stop(int stop);

// Ends the client for certain (SIGKILL; TerminateProcess). Nothing once it has ended.
void kill_client();

// Waits up to `ms` milliseconds for the client to end, relaying nothing. True once it has.
bool await_client(int ms);

// The stop request as a report names it: "signal 15", "CTRL_CLOSE_EVENT".
const char* stop_name(int stop);

// Ends the process as the stop request would have ended it without the wrapper: by the
// signal's default action on POSIX (a shell sees 128 + its number); on Windows with the
// code of a process the console ended, and with it the client's job and all in it.
[[noreturn]] void end_by_stop(int stop);

// The value of the environment variable `name`, whole and terminated: the bytes on
// POSIX; on Windows read as UTF-16 and written in UTF-8, never through a code page.
// "" when unset. Valid until the next call.
const char* read_environment(const char* name);

// read_environment for the value as the system holds it, in os_char units, unconverted:
// `capacity` and the length count those units. `name` is ASCII, at most 63 characters.
size_t read_os_environment(const char* name, os_char* value, size_t capacity);

// Writes all `length` bytes unchanged. False on failure, including no_handle.
bool write_handle(os_handle handle, const char* bytes, size_t length);

// Writes `text` as the runtime's standard output stream would (line feeds as CR LF on
// Windows) and at once, so that it reaches a file or pipe before anything after it.
void print_text(const char* text);

// Ends the process at once with `status`. Buffered runtime streams are not flushed.
// What the client started and left running is left alone.
[[noreturn]] void exit_process(int status);

enum { line_buffer_size = 1024 };

// Formats `format`, which holds at most one %s, with `text` into `buffer`
// (line_buffer_size bytes), cut to fit and terminated. Returns the length formatted.
size_t format_line(char* buffer, const char* format, const char* text);

// Receives the reads of one stream in order: length 0 marks the end of that stream.
typedef void (*stream_sink)(int stream, const char* bytes, size_t length);
enum { output_stream = 0, error_stream = 1, chunk_size = 4096 };

// The relay of both pipes: start_pump, then pump_wait as long as the caller likes, then
// end_pump. Every read of 1 to chunk_size bytes goes to `sink`, then one end mark per
// stream. The calls to `sink` never overlap, each stream's reads arrive in the order
// they were made, and all of them come inside these three calls, never beside the
// caller's own code between them.
void start_pump(os_handle output_read, os_handle error_read, stream_sink sink);

// What the pump has seen since start_pump.
struct pump_news {
  unsigned long reads;  // calls to the sink
  bool pipes_ended;     // both streams have had their end mark
  bool client_ended;    // the client has ended (looked for only when asked)
  int stop;             // the first request to stop the wrapper, or 0
};

// Relays for up to `ms` milliseconds (-1: no limit), or less: it may return once reads
// have been handed on, a stream has ended or a stop request has come. With
// `watch_client` it returns when the client ends too, or, where the system cannot wake
// on that, looks at least once a second and as it returns.
pump_news pump_wait(int ms, bool watch_client);

// Hands the end mark of each stream that has not ended (another process may hold its
// pipe) to the sink. No call to the sink comes after it.
void end_pump();

// The bytes the client's reads and writes have moved, in moved[0] and moved[1]. False
// where the system keeps no such counts.
bool client_counters(uint64_t moved[2]);

// Milliseconds on a clock that never goes back.
int64_t clock_ms();
