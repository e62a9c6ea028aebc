// The program's entry: start-up, the client's launch, the relay and the exit status.
#include "fatal.h"
#include "handles.h"
#include "platform/platform.h"
#include "run/relay.h"
#include "run/script.h"
#include "record/record.h"
#include "scan/report.h"
#include "scan/entries.h"
#include "settings/settings.h"

namespace {

// Printed at once: the process ends without flushing the runtime's streams, and the
// banner must come before any client output in a file or pipe.
void show_banner() {
  print_text("\nVESKAR - ftp shell\n");
  print_text("Calling FTP...\n");
}

// Replaces a pipe's read end by a copy that no client inherits.
void make_private(pipe_ends* pipe, const char* failure) {
  os_handle inheritable = pipe->read_end;
  if (!duplicate_private(inheritable, &pipe->read_end)) report_failure(failure, os_literal("pipe"));
  close_handle(inheritable);
}

// Starts the client with the wrapper's own arguments after its name.
bool launch_child(int argc, os_char** argv) { return create_process(client_program(), argc, argv); }

}  // namespace

// The runtime's own split of the wrapper's command line, in the system's characters: on
// Windows (wmain) no argument passes through the ANSI code page on its way to the client.
int os_main(int argc, os_char** argv) {
  // Before anything opens a handle.
  fill_std_handles();
  // Before the banner: a standard output whose reader has gone must fail that write,
  // not end the wrapper before the client has even run.
  shield_from_signals();
  show_banner();
  saved_stdout = get_std_handle(std_output_slot);
  saved_stderr = get_std_handle(std_error_slot);
  // Nothing starts with a setting that is not understood.
  if (const char* problem = read_settings()) report_fatal(problem);
  // The run's record, from here on written whatever becomes of the run.
  if (const char* problem = start_record(record_path(), client_program(), argc, argv))
    report_failure(problem, record_path());
  // Nor with a search that could not place every entry it was given.
  if (const char* problem = prepare_search()) report_fatal(problem);
  // Nor with commands to hand over a line at a time that it could not (VESKAR_ON_FAILURE).
  if (const char* problem = prepare_script(argc, argv)) report_fatal(problem);
  // Nor with a command line that would be cut short (Windows).
  if (!command_line_fits(client_program(), argc, argv)) report_fatal("Command line too long");

  if (!create_pipe(&output_pipe.read_end, &output_pipe.write_end))
    report_failure("Stdout pipe creation failed\n", os_literal("pipe"));
  if (!create_pipe(&error_pipe.read_end, &error_pipe.write_end))
    report_failure("Stderr pipe creation failed\n", os_literal("pipe"));
  if (!set_std_handle(std_output_slot, output_pipe.write_end))
    report_failure("Redirecting STDOUT failed", os_literal("pipe"));
  // Both outputs one file (> log 2>&1): the client writes both streams into one pipe,
  // as into that file without the wrapper, so that its order stays.
  bool joined = same_file(saved_stdout, saved_stderr);
  if (joined) record_streams_joined();
  if (!set_std_handle(std_error_slot, joined ? output_pipe.write_end : error_pipe.write_end))
    report_failure("Redirecting STDERR failed", os_literal("pipe"));
  make_private(&output_pipe, "DuplicateHandle OUT failed");
  make_private(&error_pipe, "DuplicateHandle ERR failed");

  if (!launch_child(argc, argv)) report_failure("Create process failed", tried_program());
  // From here on, an end of the wrapper but the last one below ends the client too.
  if (!set_std_handle(std_output_slot, saved_stdout))
    report_failure("Re-redirecting Stdout failed\n", os_literal("stdout"));
  if (!set_std_handle(std_error_slot, saved_stderr))
    report_failure("Re-redirecting Stderr failed\n", os_literal("stderr"));
  if (const char* problem = start_script()) report_fatal(problem);

  relay_streams();
  finish_record(exit_status, nullptr);
  // The run's normal end: what the client started and left running stays.
  release_client_job();
  exit_process(exit_status);
}
