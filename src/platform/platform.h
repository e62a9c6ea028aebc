// The operating-system operations the wrapper relies on. Each system has its own
// files (src/platform/posix/, windows/), picked by the build; nothing else names a
// system call.
#pragma once

#include <stddef.h>
#include <stdint.h>

// An open handle (Windows) or file descriptor (POSIX), or no_handle.
typedef intptr_t os_handle;
extern const os_handle no_handle;

// A character of command lines, paths and environment values as the system passes
// them: a UTF-16 unit on Windows (whose ANSI functions swap what their code page lacks
// for a look-alike), a byte on POSIX. os_main, the entry, takes its arguments so.
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

// The process's standard handle of a kind now; no_handle when it has none. And the one
// a client started afterwards takes (false on failure); unless set, the input is the
// wrapper's own.
enum std_slot { std_output_slot, std_error_slot, std_input_slot };
os_handle get_std_handle(std_slot slot);
bool set_std_handle(std_slot slot, os_handle handle);

// Creates an anonymous byte pipe of the system's default size (false on failure); tells
// whether two handles lead to one file, terminal, console or pipe.
bool create_pipe(os_handle* read_end, os_handle* write_end);
bool same_file(os_handle a, os_handle b);

// A second handle to the same object in *copy, one that no client ever inherits.
bool duplicate_private(os_handle source, os_handle* copy);

// Closes a handle; the last write end of a pipe closed, its reader sees the end.
bool close_handle(os_handle handle);

// Gives the process the standard descriptors it was started without (the null device),
// so that no later one takes their place, for a client to get as its own (POSIX).
void fill_std_handles();

// Writes all `length` bytes unchanged. False on failure, and for no_handle. On POSIX,
// once a stop request has come, a write that would wait long gives up.
bool write_handle(os_handle handle, const char* bytes, size_t length);

// Writes `text` (`length` units) as a person reads it: the bytes on POSIX; on Windows
// in the console's output code page (the OEM one without a console).
bool write_os_text(os_handle handle, const os_char* text, size_t length);

// Writes "`what`: " and the system's words for why its last operation failed into `out`
// (`capacity` units, terminated); returns the length. On Windows in English where it can.
size_t describe_failure(const os_char* what, os_char* out, size_t capacity);

// Writes `text` at once as the runtime's stdout would (line feeds as CR LF on Windows).
void print_text(const char* text);

// Ends the process with `status`, runtime streams unflushed; on Windows the client's
// job with it, unless release_client_job came first.
[[noreturn]] void exit_process(int status);

// Formats `format`, which holds at most one %s, with `text` into `buffer`
// (line_buffer_size bytes), cut to fit and terminated. Returns the length formatted.
enum { line_buffer_size = 1024 };
size_t format_line(char* buffer, const char* format, const char* text);

// --- Environment and clock ---

// The environment variable `name`, terminated; "" when unset. On POSIX the
// environment's own bytes; on Windows read as UTF-16 and written in UTF-8, never through
// a code page, valid until the next call.
const char* read_environment(const char* name);

// read_environment for the value as the system holds it, in os_char units, unconverted:
// `capacity` and the length count those units. `name` is ASCII, at most 63 characters.
size_t read_os_environment(const char* name, os_char* value, size_t capacity);

int64_t clock_ms();  // milliseconds on a clock that never goes back

// --- Requests to stop the wrapper ---

// Ctrl+C and its kin, a closed stdout and a file past the size limit cannot end the
// wrapper from now on; a client started afterwards still gets them as usual.
void shield_from_signals();

// A stop request's name ("signal 15", "CTRL_CLOSE_EVENT"): pump_wait reports the
// signal's number on POSIX, the console event's on Windows; 0 for none.
const char* stop_name(int stop);

// Ends the process as the stop request would have without the wrapper: by the signal
// on POSIX (a shell sees 128 + its number); on Windows with the code of a process the
// console ended, the client's job with it.
[[noreturn]] void end_by_stop(int stop);

// --- The client's launch ---

// The client's program when none is set: "ftp", or "ftp.exe" on Windows.
extern const os_char default_client[];

#ifdef _WIN32
enum { max_program_length = 2046 };  // with a blank, a whole Windows command line
#endif

// Whether `program` and arguments[1, count) fit a Windows command line of 2047 units,
// quoted as the C runtime splits it. Always on POSIX, where exec takes them as they are.
bool command_line_fits(const os_char* program, int count, const os_char* const* arguments);

// Starts `program` with arguments[1, count) (argv-like: arguments[count] is null) and
// the handles set through set_std_handle, and nothing else the wrapper holds (on POSIX,
// what it inherited still passes). A bare name is searched: PATH on POSIX; on Windows
// the wrapper's folder, the system's and PATH, never the current one. Each argument
// arrives whole. True once it has really started. It never outlives the wrapper (a job
// on Windows where one can be had; SIGTERM at the wrapper's death on Linux). From now
// on a stop request (SIGTERM, SIGHUP, SIGALRM, SIGUSR1, SIGUSR2 not ignored at start;
// the console's close, logoff, shutdown) no longer ends the wrapper: pump_wait has it.
bool create_process(const os_char* program, int count, os_char** arguments);

// The program create_process started or last tried: the path found, or `program`. And,
// for the run's normal end alone, what the client started may outlive the wrapper
// (Windows: the job no longer ends it).
const os_char* tried_program();
void release_client_job();

// --- The client's lifetime ---

enum end_kind {  // how the client ended
  ended_unknown,      // not known: another process reaped it, say
  ended_with_status,  // code: its exit status; on Windows the whole 32-bit exit code
  ended_by_signal,    // code: the signal's number (POSIX)
};
struct client_end {
  end_kind kind;
  unsigned long code;
};

client_end client_ending();  // waits for the client to end, then says how

enum { stop_grace_seconds = 3 };
// Stops the client: at once on Windows; on POSIX by SIGTERM, then SIGKILL
// stop_grace_seconds later. Returns once it has ended, or stop_grace_seconds after the
// SIGKILL at the latest. Its own children are left alone.
void stop_client();

// Passes a stop request on to the client: the same signal on POSIX; on Windows, whose
// console gives the client the same event, it ends it at once.
void pass_stop(int stop);

// Ends the client for certain (SIGKILL; TerminateProcess); nothing once it has ended.
// Waits up to `ms` ms for the client to end, relaying nothing: true once it has.
void kill_client();
bool await_client(int ms);

// The bytes the client's reads and writes moved, in moved[0] and moved[1]; false where
// the system keeps no such counts.
bool client_counters(uint64_t moved[2]);

// --- The relay pump ---

// Receives the reads of one stream in order; length 0 marks the stream's end.
typedef void (*stream_sink)(int stream, const char* bytes, size_t length);
enum { output_stream = 0, error_stream = 1, chunk_size = 4096 };

// The relay of both pipes: start_pump, pump_wait as long as the caller likes, end_pump.
// Each read (1 to chunk_size bytes) goes to `sink` in order, then an end mark per
// stream; the calls never overlap, and all come inside these three calls.
void start_pump(os_handle output_read, os_handle error_read, stream_sink sink);

struct pump_news {  // what the pump has seen since start_pump
  unsigned long reads;  // calls to the sink
  bool pipes_ended;     // both streams have had their end mark
  bool client_ended;    // the client has ended (looked for only when asked)
  int stop;             // the first stop request, or 0
};

// Relays for up to `ms` ms (-1: no limit), or less: once a stream ended or a stop came,
// or reads were handed on (on Windows, only after pump_watch_reads); with `watch_client`,
// once the client ends (looked at once a second at least where the system cannot wake on it).
pump_news pump_wait(int ms, bool watch_client);

// Whether the client's bytes wait in the pipes (or a reader, on Windows), not handed on.
bool pump_holds_output();

// Hands the end mark of each stream not ended (another process may hold its pipe) to
// the sink; no call to the sink comes after it.
void end_pump();

// --- How the client writes its text ---

// The encodings a client may write in: on Windows the OEM code page (the console's),
// the ANSI one and UTF-8; on POSIX the bytes as they are. unknown_encoding: any of them.
enum { max_client_encodings = 3, unknown_encoding = max_client_encodings };
size_t client_encoding_count();

// Writes `text` (`length` units) in client encoding `encoding` into `out` (`capacity`
// bytes), no best fit: the bytes, 0 where it cannot write every character or none fit.
size_t encode_for_client(const os_char* text, size_t length, size_t encoding, char* out,
                         size_t capacity);

// The C library's failure texts, which a client prints in its locale's language.
// library_none: the client's own words; the library_name_ ones: a name lookup's.
enum library_message {
  library_none, library_no_entry, library_access, library_refused, library_net_unreachable,
  library_name_unknown, library_name_lookup, library_no_space, library_is_directory,
  library_not_directory, library_name_too_long, library_io, library_read_only, library_quota,
  library_too_large, library_timed_out, library_reset, library_broken_pipe,
  library_host_unreachable, library_host_down,
};

// Writes into texts[m] (`text_size` bytes each) the C library's words for messages[m]
// in the locale a client started now takes from the environment, their lengths into
// lengths[m]: 0 without such a locale, where the client speaks the library's English (C,
// POSIX, C.UTF-8 without LANGUAGE), for library_none, and on Windows.
void localize_library_messages(const library_message* messages, size_t count, char* texts,
                               size_t text_size, size_t* lengths);

// --- What the run's record needs ---

// Opens `path` for appending (created 0600 on POSIX), every write landing whole at the
// end whoever else appends; a FIFO without a reader fails at once. Not inherited; on
// Windows others may read, append, rename and delete it meanwhile. no_handle on failure.
os_handle open_for_append(const os_char* path);

// Whether `handle` is a pipe or FIFO, where a write lands whole, whoever else writes,
// only up to pipe_write_size bytes (PIPE_BUF on Linux). One write: the bytes it wrote.
bool is_pipe(os_handle handle);
enum { pipe_write_size = 4096 };
size_t write_once(os_handle handle, const char* bytes, size_t length);

// The record the POSIX backstop appends to `path` in one write that never waits, should
// a stop leave the wrapper held; nullptr for none.
void keep_backstop_record(const os_char* path, const char* line, size_t length);

int64_t wall_clock_ms();  // milliseconds since 1970-01-01 00:00 UTC

// The machine's name into `name` (`capacity` bytes), UTF-8, terminated; its length.
size_t host_name(char* name, size_t capacity);

// Writes `text` (`length` units) into `out` (`capacity` bytes) in UTF-8, a lone
// surrogate or a byte that is no UTF-8 as U+FFFD. Returns the bytes, whole characters.
size_t os_text_in_utf8(const os_char* text, size_t length, char* out, size_t capacity);

// The same for bytes the client wrote in client encoding `encoding`: on POSIX UTF-8, any
// other byte as U+FFFD; on Windows read in that encoding, or, for unknown_encoding, in
// UTF-8 where the whole is UTF-8 and otherwise in the OEM code page (ftp.exe's).
size_t client_text_in_utf8(const char* bytes, size_t length, size_t encoding, char* out,
                           size_t capacity);

// --- The client's commands, a line at a time (VESKAR_ON_FAILURE=stop) ---

// Where the commands come from: piped (open_commands set up the client's input, and
// lines are handed over), typed (at a terminal or console: nothing set up), unrouted.
enum commands_route { commands_piped, commands_typed, commands_unrouted };

// Sets up their route. Their source is the wrapper's standard input; on Windows the file
// of the last "-s:FILE" of arguments[1, count) when it can read that, and the client then
// gets "-s:" and the name of the wrapper's pipe there (`arguments` stay as they are).
// Otherwise the client reads the pipe as its standard input.
commands_route open_commands(int count, const os_char* const* arguments);

// Reads at most `capacity` bytes of the commands without waiting: the count, 0 with
// *ended set at the source's end (or failure), 0 alone while it holds nothing now.
size_t read_commands(char* buffer, size_t capacity, bool* ended);

size_t commands_held();  // the bytes the source holds now; 0 where unknown

// Writes the start of bytes[0, length) to the client's input without waiting; *taken
// says how much. The rest is offered again, unchanged, until taken. False once the
// client no longer reads its input.
bool write_commands(const char* bytes, size_t length, size_t* taken);

void close_commands();  // the client reads what it was given, then its input's end

// Whether the client shows that it waits by its prompts (Windows), which the caller
// judges, or the system tells (Linux).
extern const bool waiting_shown_by_prompt;

// nullptr where a client started now can be seen waiting for its next line; else why
// not, for report_fatal (Linux needs /proc and the right to trace the client; other
// POSIX systems cannot).
const char* waiting_unseen();

// After create_process: closes the wrapper's copy of the client's end of its input.
// nullptr, or why this client cannot be seen waiting after all.
const char* start_commands();

// Before start_pump: pump_wait then returns soon after each read is handed on.
void pump_watch_reads();

// Whether the client waits for its next line now, all it printed handed on. Linux: its
// input pipe is empty and it sleeps (state S) in a read of descriptor 0. Windows:
// `prompt_shown`, the caller's verdict on its output since its last line.
bool client_waits(bool prompt_shown);
