// POSIX: the client's launch: a vfork child that sets the client's signals, standard
// descriptors and parent-death signal, then the PATH search and exec.
#include "shared.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

extern char** environ;

// Found through PATH.
const os_char default_client[] = "ftp";

namespace {

// Why the started child could not exec the client; 0 while it has not failed.
volatile int start_error = 0;

const os_char* tried = default_client;

// Makes `fd` the client's descriptor `target`, open across exec.
bool hand_over(os_handle fd, int target) {
  // dup2 onto the same number is a no-op that leaves close-on-exec set.
  if (descriptor(fd) == target) return fcntl(target, F_SETFD, 0) == 0;
  return dup2(descriptor(fd), target) == target;
}

// Runs the program argv[0] names, found through PATH as execvp finds it, and returns
// only on failure, with errno set. Unlike execvp it never hands a file that is no
// program to /bin/sh: such a client does not start.
void exec_client(char** argv) {
  const char* file = argv[0];
  if (strchr(file, '/') != nullptr) {
    execve(file, argv, environ);
    return;
  }
  const char* search = getenv("PATH");
  if (search == nullptr) search = "/bin:/usr/bin";  // the C library's default
  size_t file_length = strlen(file);
  bool denied = false;
  char path[4096];
  for (const char* entry = search;; ++entry) {
    const char* end = strchrnul(entry, ':');
    size_t length = static_cast<size_t>(end - entry);
    if (length + 1 + file_length < sizeof path) {
      memcpy(path, entry, length);
      if (length > 0) path[length++] = '/';  // an empty entry is the current directory
      memcpy(path + length, file, file_length + 1);
      execve(path, argv, environ);
      // As execvp: an entry without the program is passed over, any other failure ends
      // the search, and a denied one is told when nothing else was found.
      if (errno == EACCES) denied = true;
      else if (errno != ENOENT && errno != ENOTDIR && errno != ESTALE && errno != ENODEV &&
               errno != ETIMEDOUT)
        return;
    }
    if (*end == '\0') break;
    entry = end;
  }
  errno = denied ? EACCES : ENOENT;
}

// The child's way to the client, with `mask` as its signal mask, or to start_error
// with errno. It shares the wrapper's memory until its exec, while the wrapper
// (`parent`) waits: it must take no lock, touch no heap and let no handler of the
// wrapper's run.
[[noreturn]] void start_client(char** argv, pid_t parent, const sigset_t* mask) {
  // The client's signals as the wrapper found them; nothing of the wrapper's can run
  // here, since every signal stays blocked until the mask is the client's.
  for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
    if (sigismember(&client_default_signals, signal_number) == 1) signal(signal_number, SIG_DFL);
    if (sigismember(&client_ignored_signals, signal_number) == 1) signal(signal_number, SIG_IGN);
  }
  // The pipes' write ends are numbers past 2, since every standard descriptor is open:
  // the first hand_over cannot replace the second's.
  bool ready = hand_over(client_std[0], STDOUT_FILENO) && hand_over(client_std[1], STDERR_FILENO) &&
               (client_std[2] == STDIN_FILENO || hand_over(client_std[2], STDIN_FILENO));
#ifdef __linux__
  // SIGKILL cannot be caught and passed on: the kernel ends the client instead. Set only
  // now, so the wrapper may already have died: then the client must not run at all.
  if (ready) prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(127);
#else
  (void)parent;
#endif
  sigprocmask(SIG_SETMASK, mask, nullptr);
  if (ready) exec_client(argv);
  start_error = errno != 0 ? errno : ENOEXEC;
  _exit(127);
}

}  // namespace

bool command_line_fits(const os_char*, int, const os_char* const*) { return true; }

const os_char* tried_program() { return tried; }

bool create_process(const os_char* program, int, os_char** arguments) {
  tried = program;
  if (client_std[0] == no_handle || client_std[1] == no_handle) {
    errno = EBADF;
    return false;
  }
  sigset_t every, mask_before;
  sigfillset(&every);
  sigprocmask(SIG_BLOCK, &every, &mask_before);
  catch_stop_signals();
  // The client's argv is the wrapper's own, its first word the program.
  os_char* own_name = arguments[0];
  arguments[0] = const_cast<os_char*>(program);
  pid_t parent = getpid();
  start_error = 0;
  // Not fork: a copy of the wrapper's memory is not needed for an exec. The wrapper
  // goes on once the child has called exec or ended, so start_error is known for
  // certain before the relay starts.
  pid_t pid = vfork();
  if (pid == 0) start_client(arguments, parent, &mask_before);
  int failure = pid < 0 ? errno : start_error;
  arguments[0] = own_name;
  bool started = pid > 0 && start_error == 0;
  if (pid > 0 && !started) waitpid(pid, nullptr, 0);
  if (started) keep_client(pid);
  // A stop request that came meanwhile is taken now, and passed on to the client.
  sigprocmask(SIG_SETMASK, &mask_before, nullptr);
  // The reason describe_failure gives: vfork's, or the exec's in the child.
  if (!started) errno = failure;
  return started;
}
