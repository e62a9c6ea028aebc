// The operating-system operations the wrapper relies on. Each system has its own
// implementation files (src/platform/posix/, src/platform/windows/), picked by the
// build; nothing outside them names a system call.
#pragma once

#include <stddef.h>
#include <stdint.h>

// An open handle (Windows) or file descriptor (POSIX), or no_handle.
typedef intptr_t os_handle;
extern const os_handle no_handle;

// A character of command lines, paths and environment values as the system passes
// them: a UTF-16 code unit on Windows, whose ANSI functions would swap what their code
// page lacks for a look-alike, and a byte on POSIX. os_main is the program's entry,
// which takes its arguments so; os_literal makes an ASCII literal of them.
#ifdef _WIN32
typedef wchar_t os_char;
#define os_main wmain
#define os_literal(text) L"" text
#else
typedef char os_char;
#define os_main main
#define os_literal(text) text
#endif

// --- Standard handles and pipes ---

// Which of the process's standard handles an operation concerns.
enum std_slot { std_output_slot, std_error_slot, std_input_slot };

// The process's standard handle of that kind as the process has it now; no_handle when
// the process has none.
os_handle get_std_handle(std_slot slot);

// Makes `handle` the standard handle of that kind that a client started afterwards
// takes. False on failure. Unless set, the client's input is the wrapper's own.
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

// Writes all `length` bytes unchanged. False on failure, including no_handle. On POSIX,
// once a request to stop the wrapper has come, a write that would wait long gives up.
bool write_handle(os_handle handle, const char* bytes, size_t length);

// Writes `text` (`length` units) as a person reads it there: the bytes on POSIX; on
// Windows in the console's output code page (the OEM one without a console).
bool write_os_text(os_handle handle, const os_char* text, size_t length);

// Writes "`what`: " and the system's words for why the platform's last operation failed
// into `out` (`capacity` units, terminated); returns its length. errno's on POSIX (the
// exec's for a client); on Windows its error code's message, in English where it can.
size_t describe_failure(const os_char* what, os_char* out, size_t capacity);

// Writes `text` as the runtime's standard output stream would (line feeds as CR LF on
// Windows) and at once, so that it reaches a file or pipe before anything after it.
void print_text(const char* text);

// Ends the process at once with `status`. Buffered runtime streams are not flushed. On
// Windows the client's job, all in it, ends with it unless release_client_job came first.
[[noreturn]] void exit_process(int status);

enum { line_buffer_size = 1024 };

// Formats `format`, which holds at most one %s, with `text` into `buffer`
// (line_buffer_size bytes), cut to fit and terminated. Returns the length formatted.
size_t format_line(char* buffer, const char* format, const char* text);

// --- Environment and clock ---

// The value of the environment variable `name`, whole and terminated; "" when unset.
// On POSIX the environment's own bytes, which last as long as the process leaves its
// environment alone; on Windows read as UTF-16 and written in UTF-8, never through a
// code page, and valid until the next call.
const char* read_environment(const char* name);

// read_environment for the value as the system holds it, in os_char units, unconverted:
// `capacity` and the length count those units. `name` is ASCII, at most 63 characters.
size_t read_os_environment(const char* name, os_char* value, size_t capacity);

// Milliseconds on a clock that never goes back.
int64_t clock_ms();

// --- Requests to stop the wrapper ---

// Makes sure that Ctrl+C and its kin, a closed standard output and a file past the size
// limit cannot end the wrapper, while a client started afterwards still gets them as usual.
void shield_from_signals();

// A request to stop the wrapper, as pump_wait reports it: the signal's number on POSIX,
// the console event's on Windows; 0 for none. Its name: "signal 15", "CTRL_CLOSE_EVENT".
const char* stop_name(int stop);

// Ends the process as the stop request would have ended it without the wrapper: by the
// signal's default action on POSIX (a shell sees 128 + its number); on Windows with the
// code of a process the console ended, and with it the client's job and all in it.
[[noreturn]] void end_by_stop(int stop);

// --- The client's launch ---

// The client's program name when none is set: "ftp", or "ftp.exe" on Windows, found
// through the system's program search.
extern const os_char default_client[];

#ifdef _WIN32
// The longest program path create_process takes on Windows, in UTF-16 units: it and a
// blank fill a command line of 2047.
enum { max_program_length = 2046 };
#endif

// Whether the client's start can carry `program` and arguments[1, count). On Windows
// they must fit a command line of at most 2047 UTF-16 units, quoted as the C runtime
// splits it (`program` holds no double quote there). On POSIX they always do: exec takes
// them as they are, and the system's own limit shows as create_process's failure.
bool command_line_fits(const os_char* program, int count, const os_char* const* arguments);

// Starts `program` with arguments[1] to arguments[count - 1] (arguments[count] is a null
// pointer, as main's argv has it; arguments[0] is left as it was) and the standard
// handles set through set_std_handle. A bare name is searched: through PATH on POSIX; on
// Windows in the wrapper's folder, the system's and PATH, never the current one (a name
// with a \, / or : is taken as given). The client gets each argument whole: through exec
// unchanged; on Windows in a command line its runtime splits back into them. True only
// once it has really started; it is kept for stop_client and its kin.
// It gets the standard handles and nothing the wrapper holds besides (on POSIX, what the
// wrapper inherited still passes). It does not outlive the wrapper: on Windows it runs
// in a job that ends with the wrapper, where the system gives one; on Linux it gets
// SIGTERM when the wrapper dies, even of SIGKILL. From now on a request to stop the
// wrapper (SIGTERM, SIGHUP, SIGALRM, SIGUSR1 or SIGUSR2 not ignored at start; the
// console's close, logoff or shutdown) no longer ends it: pump_wait reports it.
bool create_process(const os_char* program, int count, os_char** arguments);

// The program create_process started or last tried: the path found, or `program`.
const os_char* tried_program();

// Lets what the client started outlive the wrapper (Windows: the job no longer ends it):
// for the run's normal end alone. Nothing on POSIX.
void release_client_job();

// --- The client's lifetime ---

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

// Passes a stop request on to the client: the same signal on POSIX; on Windows, whose
// console gives the client the same event, it ends the client at once. Nothing once the
// client has ended.
void pass_stop(int stop);

// Ends the client for certain (SIGKILL; TerminateProcess). Nothing once it has ended.
void kill_client();

// Waits up to `ms` milliseconds for the client to end, relaying nothing. True once it has.
bool await_client(int ms);

// The bytes the client's reads and writes have moved, in moved[0] and moved[1]. False
// where the system keeps no such counts.
bool client_counters(uint64_t moved[2]);

// --- The relay pump ---

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

// Whether the client's bytes wait in the pipes (or a reader, on Windows), not handed on.
bool pump_holds_output();

// Hands the end mark of each stream that has not ended (another process may hold its
// pipe) to the sink. No call to the sink comes after it.
void end_pump();

// --- How the client writes its text ---

// The encodings a client may write its text in: on Windows the OEM code page (the
// console's), the ANSI code page and UTF-8; on POSIX one, the bytes as they are.
// unknown_encoding: a text that may be in any of them.
enum { max_client_encodings = 3, unknown_encoding = max_client_encodings };
size_t client_encoding_count();

// Writes `text` (`length` units) in client encoding `encoding` into `out` (`capacity`
// bytes), with no best fit. Returns the bytes written; 0 where that encoding cannot
// write every character of the text exactly, or they do not fit.
size_t encode_for_client(const os_char* text, size_t length, size_t encoding, char* out,
                         size_t capacity);

// The C library's failure texts, by what they say: a client started in a locale other
// than C prints them in its language. library_none: the client's own words; the two
// library_name_ ones: a name lookup's, not errno's.
enum library_message {
  library_none, library_no_entry, library_access, library_refused, library_net_unreachable,
  library_name_unknown, library_name_lookup, library_no_space, library_is_directory,
  library_not_directory, library_name_too_long, library_io, library_read_only, library_quota,
  library_too_large, library_timed_out, library_reset, library_broken_pipe,
  library_host_unreachable, library_host_down,
};

// Writes into texts[m] (`text_size` bytes each) the C library's words for messages[m],
// m below `count`, in the locale a client started now runs in (its own setlocale(LC_ALL,
// "") takes it from the environment), and their length into lengths[m]: 0 where there is
// no such locale, where the client speaks the library's own English (C and POSIX, or
// C.UTF-8 and its kin without LANGUAGE), or where the library has no such text
// (library_none; Windows, whose runtime speaks English only).
void localize_library_messages(const library_message* messages, size_t count, char* texts,
                               size_t text_size, size_t* lengths);

// --- What the run's record needs ---

// Opens `path` for appending, creating it if missing (on POSIX for its owner alone,
// 0600), so that every write lands whole at the file's end, whoever else appends. A FIFO
// without a reader fails at once. Never inherited by the client; on Windows others may
// read, append, rename and delete it meanwhile. no_handle on failure.
os_handle open_for_append(const os_char* path);

// Whether `handle` is a pipe or FIFO, where a write lands whole, whoever else writes,
// only up to pipe_write_size bytes (PIPE_BUF on Linux).
bool is_pipe(os_handle handle);
enum { pipe_write_size = 4096 };

// Makes one write; returns the bytes it wrote, 0 on failure.
size_t write_once(os_handle handle, const char* bytes, size_t length);

// The record the POSIX backstop appends to `path` in one write that never waits, should
// a stop leave the wrapper held; `line` nullptr for none. Nothing on Windows.
void keep_backstop_record(const os_char* path, const char* line, size_t length);

// Milliseconds since 1970-01-01 00:00 UTC.
int64_t wall_clock_ms();

// Writes the machine's name into `name` (`capacity` bytes), in UTF-8 and terminated;
// returns its length, 0 when it cannot be had.
size_t host_name(char* name, size_t capacity);

// Writes `text` (`length` units) into `out` (`capacity` bytes) in UTF-8: on Windows
// from UTF-16, with a lone surrogate as U+FFFD; on POSIX the bytes, any that are no
// UTF-8 as U+FFFD. Returns the bytes written, whole characters only.
size_t os_text_in_utf8(const os_char* text, size_t length, char* out, size_t capacity);

// The same for bytes the client wrote in client encoding `encoding`: on POSIX UTF-8, any
// other byte as U+FFFD; on Windows read in that encoding, or, for unknown_encoding, in
// UTF-8 where the whole is UTF-8 and otherwise in the OEM code page (ftp.exe's).
size_t client_text_in_utf8(const char* bytes, size_t length, size_t encoding, char* out,
                           size_t capacity);
