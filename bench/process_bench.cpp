// Whole-process figures of the wrapper, each measured side by side with what the
// same job costs without it, in one run: relay throughput, start-up, idle CPU, prompt
// latency and peak RSS. The client is bench_client, run as `ftp` from a PATH directory
// of this harness's own, so that nothing else ever picks it up.
//
//   process_bench VESKAR BENCH_CLIENT PLAIN_RELAY ECHO_RELAY [--smoke|--idle]
//
// Prints one row per figure: name|target|measured|verdict (PASS or FAIL). --smoke runs
// everything once on tiny inputs and only checks that it all works; it judges nothing.
// --idle measures the idle figures alone.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "site_texts.h"

namespace {

std::string veskar, client_dir, client_link, plain_relay, echo_relay;
std::string path_variable;
int null_fd = -1;
bool smoke = false;
bool all_passed = true;

double now_s() {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

[[noreturn]] void fail(const char* what) {
  perror(what);
  exit(2);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Starts `words` with descriptors 0 to 3 taken from `fds` (-1: /dev/null; for 3:
// nothing). A bare name is found through this process's own PATH; the child gets the
// harness's PATH, so that what it starts as `ftp` is the bench client, and `settings`
// ("NAME=VALUE").
pid_t start(const std::vector<std::string>& words, const int fds[4],
            const std::vector<std::string>& settings = {}) {
  std::vector<char*> argv;
  for (const std::string& w : words) argv.push_back(const_cast<char*>(w.c_str()));
  argv.push_back(nullptr);
  std::string path_entry = "PATH=" + path_variable;
  // Nothing else: the runs must not depend on the caller's environment.
  std::vector<char*> envp = {const_cast<char*>(path_entry.c_str())};
  for (const std::string& setting : settings) envp.push_back(const_cast<char*>(setting.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd < 3; ++fd)
    posix_spawn_file_actions_adddup2(&actions, fds[fd] >= 0 ? fds[fd] : null_fd, fd);
  if (fds[3] >= 0) posix_spawn_file_actions_adddup2(&actions, fds[3], 3);
  pid_t pid;
  int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    errno = error;
    fail(words[0].c_str());
  }
  return pid;
}

// The usage of the ended, not yet reaped `pid` itself. Not wait4's: that adds the
// children it reaped, and the wrapper reaps its client. The CPU time is schedstat's, in
// nanoseconds, split between user and system as the ticks of /proc/PID/stat split it;
// the voluntary context switches are its own, from /proc/PID/status.
void own_usage(pid_t pid, struct rusage* usage) {
  memset(usage, 0, sizeof *usage);
  char path[64], text[1024];
  unsigned long user_ticks = 0, system_ticks = 0;
  unsigned long long run_ns = 0;
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  if (FILE* file = fopen(path, "r")) {
    size_t length = fread(text, 1, sizeof text - 1, file);
    text[length] = '\0';
    fclose(file);
    // Fields 14 and 15, after the name in parentheses, which may hold blanks.
    if (const char* after = strrchr(text, ')'))
      sscanf(after + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user_ticks,
             &system_ticks);
  }
  snprintf(path, sizeof path, "/proc/%d/schedstat", static_cast<int>(pid));
  if (FILE* file = fopen(path, "r")) {
    if (fscanf(file, "%llu", &run_ns) != 1) run_ns = 0;
    fclose(file);
  }
  snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  if (FILE* file = fopen(path, "r")) {
    while (fgets(text, sizeof text, file) != nullptr)
      sscanf(text, "voluntary_ctxt_switches: %ld", &usage->ru_nvcsw);
    fclose(file);
  }
  double total = static_cast<double>(run_ns) * 1e-9;
  double ticks = static_cast<double>(user_ticks + system_ticks);
  double user = ticks > 0 ? total * static_cast<double>(user_ticks) / ticks : 0;
  auto to_timeval = [](double seconds) {
    struct timeval t;
    t.tv_sec = static_cast<time_t>(seconds);
    t.tv_usec = static_cast<suseconds_t>((seconds - static_cast<double>(t.tv_sec)) * 1e6);
    return t;
  };
  usage->ru_utime = to_timeval(user);
  usage->ru_stime = to_timeval(total - user);
}

// Reaps the ended `pid`, after reading its own usage into *usage (unless null); returns
// its exit status.
int reap(pid_t pid, struct rusage* usage) {
  if (usage != nullptr) own_usage(pid, usage);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) fail("waitpid");
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Waits for `pid`; returns its exit status, its own usage in *usage.
int finish(pid_t pid, struct rusage* usage) {
  siginfo_t info;
  while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0)
    if (errno != EINTR) fail("waitid");
  return reap(pid, usage);
}

// Reaps the clients the wrapper left behind: this harness is their subreaper.
void reap_orphans() {
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
}

void expect_status(int status, int expected, const char* what) {
  if (status != expected) {
    fprintf(stderr, "process_bench: %s ended with %d, not %d\n", what, status, expected);
    exit(2);
  }
}

void row(const char* figure, const char* target, const std::string& measured, bool passed,
         const char* verdict = nullptr) {
  if (!smoke && !passed) all_passed = false;
  if (verdict == nullptr) verdict = smoke ? "(smoke)" : passed ? "PASS" : "FAIL";
  printf("%s|%s|%s|%s\n", figure, target, measured.c_str(), verdict);
  fflush(stdout);
}

std::string format(const char* format, double a, double b = 0, double c = 0, double d = 0,
                   double e = 0) {
  char text[256];
  snprintf(text, sizeof text, format, a, b, c, d, e);
  return text;
}

long peak_rss_kib = 0;

// The wrapper's own peak RSS so far. Not wait4's ru_maxrss: after a vfork-style spawn
// that counts the spawning process's memory too, since the child ran in it until exec.
void note_peak_rss(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  FILE* status = fopen(path, "r");
  if (status == nullptr) return;
  char line[256];
  long kib;
  while (fgets(line, sizeof line, status) != nullptr)
    if (sscanf(line, "VmHWM: %ld kB", &kib) == 1 && kib > peak_rss_kib) peak_rss_kib = kib;
  fclose(status);
}

// Waits for the wrapper `pid`, reading its peak RSS every 10 ms while it runs.
int finish_watching(pid_t pid, struct rusage* usage) {
  for (;;) {
    note_peak_rss(pid);
    siginfo_t info;
    info.si_pid = 0;
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) < 0 &&
        errno != EINTR)
      fail("waitid");
    if (info.si_pid == pid) return reap(pid, usage);
    struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
}

double cpu_seconds(const struct timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

// Pipes the flooding client into `relay` (which writes to /dev/null); returns the
// seconds until both have ended, and the relay's usage in *usage.
double piped_relay(const std::string& relay, const std::string& flood, struct rusage* usage) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) fail("pipe");
  double t0 = now_s();
  int client_fds[4] = {-1, pipe_fds[1], -1, -1};
  pid_t client = start({client_link, flood}, client_fds);
  int relay_fds[4] = {pipe_fds[0], -1, -1, -1};
  pid_t copier = start({relay}, relay_fds);
  close(pipe_fds[0]);
  close(pipe_fds[1]);
  expect_status(finish(client, nullptr), 0, "flooding client");
  expect_status(finish(copier, usage), 0, relay.c_str());
  return now_s() - t0;
}

// 1. Relay: the wrapper against a plain 4096-byte read/write loop, same client, same
// bytes, runs interleaved. Also where the relay's CPU time goes, per GiB. The client
// writes 64 KiB a write; relay_by_write_size shows how the ratio moves with that.
void relay(uint64_t bytes, int runs) {
  std::string flood = "F:" + std::to_string(bytes);
  std::vector<double> plain_times, echo_times, wrapper_times, plain_cpu, wrapper_user,
      wrapper_system;
  for (int r = 0; r < runs; ++r) {
    struct rusage usage;
    plain_times.push_back(piped_relay(plain_relay, flood, &usage));
    plain_cpu.push_back(cpu_seconds(usage.ru_utime) + cpu_seconds(usage.ru_stime));
    echo_times.push_back(piped_relay(echo_relay, flood, &usage));

    double t0 = now_s();
    int wrapper_fds[4] = {-1, -1, -1, -1};
    pid_t wrapper = start({veskar, flood}, wrapper_fds);
    // Watching costs the wrapper nothing but a share of the other core, once a run.
    if (r == 0)
      expect_status(finish_watching(wrapper, &usage), 0, "veskar relaying");
    else
      expect_status(finish(wrapper, &usage), 0, "veskar relaying");
    wrapper_times.push_back(now_s() - t0);
    wrapper_user.push_back(cpu_seconds(usage.ru_utime));
    wrapper_system.push_back(cpu_seconds(usage.ru_stime));
    reap_orphans();
  }
  // Each round's runs follow each other closely, so they see the machine in the same
  // state; the ratio is the median of the rounds' ratios. (The machine's speed moves
  // between runs far more than between neighbours.)
  std::vector<double> ratios, echo_ratios;
  for (int r = 0; r < runs; ++r) {
    ratios.push_back(plain_times[r] / wrapper_times[r]);
    echo_ratios.push_back(plain_times[r] / echo_times[r]);
  }
  double plain = median(plain_times), wrapper = median(wrapper_times);
  double ratio = median(ratios);
  double gib = static_cast<double>(bytes) / (1u << 30);
  row("Relay 1 GiB stdout to /dev/null, speed vs plain 4096-byte relay", ">= 0.90x",
      format("%.3fx, median of paired rounds (%.3f to %.3f; veskar %.2f GiB/s, plain %.2f GiB/s)",
             ratio, *std::min_element(ratios.begin(), ratios.end()),
             *std::max_element(ratios.begin(), ratios.end()), gib / wrapper, gib / plain),
      ratio >= 0.9);
  // No target: what the ratio is made of. The plain relay is busy nearly all the time
  // in the kernel; the wrapper's kernel time is the same reads and writes, and its
  // user time is the line cutting and the scan.
  row("Relay without the scan: veskar's read loop, echo only (no target)", "-",
      format("%.3fx of plain", median(echo_ratios)), true, "info");
  row("Relay CPU per GiB (no target)", "-",
      format("plain %.3f s (kernel); veskar %.3f s kernel + %.3f s user (cutting, scan)",
             median(plain_cpu) / gib, median(wrapper_system) / gib, median(wrapper_user) / gib),
      true, "info");
}

// The relay's ratio when the client writes `write_size` bytes a write, as real clients
// differ: inetutils-ftp writes a download to stdout 8 KiB a write, tnftp 128 KiB.
// Smaller writes make the plain relay faster, and leave the scan less room.
// With `settings`, the wrapper gets them and the row is named `like` and held to the
// main relay's target.
void relay_by_write_size(uint64_t bytes, int runs, size_t write_size, const char* like,
                         const std::vector<std::string>& settings = {}) {
  std::string flood = "F:" + std::to_string(bytes) + ":" + std::to_string(write_size);
  std::vector<double> ratios, plain_times;
  for (int r = 0; r < runs; ++r) {
    struct rusage usage;
    double plain = piped_relay(plain_relay, flood, &usage);
    double t0 = now_s();
    int wrapper_fds[4] = {-1, -1, -1, -1};
    pid_t wrapper = start({veskar, flood}, wrapper_fds, settings);
    expect_status(finish(wrapper, &usage), 0, "veskar relaying");
    ratios.push_back(plain / (now_s() - t0));
    plain_times.push_back(plain);
    reap_orphans();
  }
  double gib = static_cast<double>(bytes) / (1u << 30);
  char name[128];
  snprintf(name, sizeof name, "Relay as above, client writing %zu KiB a write (%s; no target)",
           write_size / 1024, like);
  std::string result = format("%.3fx, median of paired rounds (%.3f to %.3f; plain %.2f GiB/s)",
                              median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                              *std::max_element(ratios.begin(), ratios.end()),
                              gib / median(plain_times));
  if (settings.empty())
    row(name, "-", result, true, "info");
  else
    row(like, ">= 0.90x", result, median(ratios) >= 0.9);
}

// 2. Start-up: the wrapper and a client that exits at once, against timeout(1) and the
// same client, runs interleaved; the wrapper with `settings` in its environment.
void startup(int runs, const char* name = "Start-up, client exits at once, vs timeout 10 + same client",
             const std::vector<std::string>& settings = {}) {
  std::vector<double> wrapper_times, timeout_times;
  int fds[4] = {-1, -1, -1, -1};
  for (int r = 0; r < runs + 5; ++r) {
    double t0 = now_s();
    expect_status(finish(start({veskar, "x"}, fds, settings), nullptr), 0, "veskar start-up");
    double t1 = now_s();
    expect_status(finish(start({"timeout", "10", "ftp", "x"}, fds), nullptr), 0, "timeout");
    double t2 = now_s();
    reap_orphans();
    if (r < 5) continue;  // warm-up: page cache, dynamic loader
    wrapper_times.push_back(t1 - t0);
    timeout_times.push_back(t2 - t1);
  }
  double wrapper = median(wrapper_times), bare = median(timeout_times);
  row(name, "<= 1.25x",
      format("%.3fx (veskar %.0f us, timeout %.0f us)", wrapper / bare, wrapper * 1e6, bare * 1e6),
      wrapper / bare <= 1.25);
}

// 3. Idle: the wrapper's own CPU time while its client sleeps; several at once. Its
// voluntary context switches count its wake-ups (each wait that ends is one), less
// the few of its start. With `setting`, the same with a setting in the environment.
void idle(long milliseconds, int runs, const char* setting = nullptr) {
  std::vector<std::string> settings;
  if (setting != nullptr) settings.push_back(setting);
  std::string sleep_action = "s:" + std::to_string(milliseconds);
  std::vector<pid_t> wrappers;
  int fds[4] = {-1, -1, -1, -1};
  for (int r = 0; r < runs; ++r) wrappers.push_back(start({veskar, sleep_action}, fds, settings));
  std::vector<double> cpu, wakes;
  for (pid_t pid : wrappers) {
    struct rusage usage;
    note_peak_rss(pid);
    expect_status(finish(pid, &usage), 0, "veskar idle");
    cpu.push_back((cpu_seconds(usage.ru_utime) + cpu_seconds(usage.ru_stime)) * 1e3);
    wakes.push_back(static_cast<double>(usage.ru_nvcsw));
  }
  reap_orphans();
  double worst = *std::max_element(cpu.begin(), cpu.end());
  double seconds = static_cast<double>(milliseconds) / 1000;
  if (setting == nullptr) {
    row("Idle: client sleeps 5 s, wrapper's own CPU (user+sys)", "< 5 ms",
        format("%.2f ms median, %.2f ms worst of %.0f; %.0f voluntary context switches", median(cpu),
               worst, runs, median(wakes)),
        worst < 5.0);
    return;
  }
  // One wake a second, and a few more for the start and the end.
  double most_wakes = *std::max_element(wakes.begin(), wakes.end());
  row("Idle with the watchdog on (VESKAR_IDLE_TIMEOUT=3600): client sleeps 5 s, wrapper's own "
      "CPU and wake-ups",
      "< 5 ms, <= 1 wake-up a second",
      format("%.2f ms median, %.2f ms worst of %.0f; %.0f voluntary context switches in %.0f s",
             median(cpu), worst, runs, most_wakes, seconds),
      worst < 5.0 && most_wakes <= seconds + 5);
}

// 3b. The wrapper's own CPU time with VESKAR_ON_FAILURE=stop while the client works on
// one command for `milliseconds` and more commands wait: the wrapper looks whether it
// waits, less and less often.
void idle_stop(long milliseconds, int runs) {
  std::string action = "l:" + std::to_string(milliseconds);
  std::vector<double> cpu, wakes;
  for (int r = 0; r < runs; ++r) {
    int commands[2];
    if (pipe2(commands, O_CLOEXEC) != 0) fail("pipe");
    int fds[4] = {commands[0], -1, -1, -1};
    pid_t pid = start({veskar, action}, fds, {"VESKAR_ON_FAILURE=stop"});
    close(commands[0]);
    static const char script[] = "put big.file\nquit\n";
    if (write(commands[1], script, sizeof script - 1) != sizeof script - 1) fail("write");
    close(commands[1]);
    struct rusage usage;
    expect_status(finish(pid, &usage), 0, "veskar with stop");
    cpu.push_back((cpu_seconds(usage.ru_utime) + cpu_seconds(usage.ru_stime)) * 1e3);
    wakes.push_back(static_cast<double>(usage.ru_nvcsw));
    reap_orphans();
  }
  double worst = *std::max_element(cpu.begin(), cpu.end());
  double allowed = 3.5 * static_cast<double>(milliseconds) / 2000;
  row("Idle with VESKAR_ON_FAILURE=stop: client works 2 s on one command, more waiting; wrapper's "
      "own CPU (user+sys) and wake-ups",
      "<= 3.5 ms per 2 s",
      format("%.2f ms median, %.2f ms worst of %.0f; %.0f voluntary context switches",
             median(cpu), worst, runs, median(wakes)),
      worst <= allowed);
}

// Reads exactly `length` bytes.
void read_exactly(int fd, char* buffer, size_t length) {
  while (length > 0) {
    ssize_t count = read(fd, buffer, length);
    if (count <= 0) fail("read");
    buffer += count;
    length -= static_cast<size_t>(count);
  }
}

// 4. Latency: from the client's write of a 5-byte prompt (its own clock, sent on
// descriptor 3) to the prompt's arrival on the wrapper's stdout. Returns the median in
// seconds; with `wrapped` false the client writes straight into the harness's pipe.
double prompt_latency(int rounds, bool wrapped) {
  int input[2], output[2], stamps[2];
  if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
      pipe2(stamps, O_CLOEXEC) != 0)
    fail("pipe");
  int fds[4] = {input[0], output[1], -1, stamps[1]};
  std::string action = "P:" + std::to_string(rounds);
  pid_t pid = wrapped ? start({veskar, action}, fds) : start({client_link, action}, fds);
  close(input[0]);
  close(output[1]);
  close(stamps[1]);
  char text[64];
  if (wrapped) read_exactly(output[0], text, strlen("\nVESKAR - ftp shell\nCalling FTP...\n"));
  std::vector<double> delays;
  for (int r = 0; r < rounds; ++r) {
    if (write(input[1], "g", 1) != 1) fail("write");
    read_exactly(output[0], text, 5);
    struct timespec arrived;
    clock_gettime(CLOCK_MONOTONIC, &arrived);
    uint64_t written_ns;
    read_exactly(stamps[0], reinterpret_cast<char*>(&written_ns), sizeof written_ns);
    if (memcmp(text, "ftp> ", 5) != 0) {
      fprintf(stderr, "process_bench: the prompt came out changed\n");
      exit(2);
    }
    uint64_t arrived_ns = static_cast<uint64_t>(arrived.tv_sec) * 1000000000u +
                          static_cast<uint64_t>(arrived.tv_nsec);
    delays.push_back(static_cast<double>(arrived_ns - written_ns) * 1e-9);
  }
  if (wrapped) note_peak_rss(pid);
  close(input[1]);
  expect_status(finish(pid, nullptr), 0, wrapped ? "veskar prompts" : "client prompts");
  close(output[0]);
  close(stamps[0]);
  reap_orphans();
  return median(delays);
}

void latency(int rounds) {
  double bare = prompt_latency(rounds, false);
  double wrapped = prompt_latency(rounds, true);
  row("Latency: 5-byte prompt, no line feed, client write to wrapper stdout", "<= 1 ms",
      format("%.0f us median of %.0f (client straight to pipe: %.0f us)", wrapped * 1e6, rounds,
             bare * 1e6),
      wrapped <= 1e-3);
}

// Removes the harness's PATH directory, also when a run fails half way.
void remove_client_dir() {
  unlink(client_link.c_str());
  unlink((client_dir + "/record.jsonl").c_str());
  rmdir(client_dir.c_str());
}

// VESKAR_LOG, to a file of the harness's own.
std::string record_setting() { return "VESKAR_LOG=" + client_dir + "/record.jsonl"; }

// The site texts and locale of site_texts.h, as settings.
std::vector<std::string> site_settings() {
  return {std::string("VESKAR_SIGNS=") + bench_site_signs, std::string("LC_ALL=") + bench_locale};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    fprintf(stderr,
            "usage: process_bench VESKAR BENCH_CLIENT PLAIN_RELAY ECHO_RELAY [--smoke|--idle]\n");
    return 2;
  }
  veskar = argv[1];
  plain_relay = argv[3];
  echo_relay = argv[4];
  smoke = argc > 5 && strcmp(argv[5], "--smoke") == 0;
  // --idle: the idle figures alone, for a quick look at the watchdog's cost.
  bool idle_only = argc > 5 && strcmp(argv[5], "--idle") == 0;
  // The wrapper's clients outlive it for a moment; they come back here to be reaped.
  prctl(PR_SET_CHILD_SUBREAPER, 1);
  signal(SIGPIPE, SIG_IGN);
  null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);

  // The client as `ftp`, alone in a directory of its own, first in PATH.
  char dir_template[] = "/tmp/veskar-bench.XXXXXX";
  if (mkdtemp(dir_template) == nullptr) fail("mkdtemp");
  client_dir = dir_template;
  client_link = client_dir + "/ftp";
  atexit(remove_client_dir);
  char client_path[4096];
  if (realpath(argv[2], client_path) == nullptr) fail(argv[2]);
  if (symlink(client_path, client_link.c_str()) != 0) fail("symlink");
  const char* system_path = getenv("PATH");
  path_variable = client_dir + ":" + (system_path ? system_path : "/usr/bin:/bin");

  if (idle_only) {
    idle(5000, 3);
    idle(5000, 3, "VESKAR_IDLE_TIMEOUT=3600");
    idle_stop(2000, 5);
  } else if (smoke) {
    relay(1u << 20, 1);
    relay_by_write_size(1u << 20, 1, 8 * 1024, "smoke");
    startup(1);
    startup(1, "smoke", site_settings());
    startup(1, "smoke", {record_setting()});
    idle(10, 1);
    idle(10, 1, "VESKAR_IDLE_TIMEOUT=3600");
    idle_stop(10, 1);
    latency(3);
  } else {
    relay(uint64_t{1} << 30, 11);
    relay_by_write_size(uint64_t{1} << 30, 7, 8 * 1024, "as inetutils-ftp does");
    relay_by_write_size(uint64_t{1} << 30, 7, 128 * 1024, "as tnftp does");
    relay_by_write_size(uint64_t{1} << 30, 7, 64 * 1024, "Relay 1 GiB as above, with VESKAR_LOG set",
                        {record_setting()});
    startup(300);
    startup(300, "Start-up as above, with VESKAR_SIGNS of 32 texts and the German locale's texts",
            site_settings());
    startup(300, "Start-up as above, with VESKAR_LOG set", {record_setting()});
    idle(5000, 3);
    idle(5000, 3, "VESKAR_IDLE_TIMEOUT=3600");
    idle_stop(2000, 5);
    latency(100);
  }
  row("Peak RSS of native veskar (max over the runs above)", "<= 2 MiB",
      format("%.0f KiB", static_cast<double>(peak_rss_kib)), peak_rss_kib <= 2048);

  while (wait(nullptr) > 0) {
  }
  return all_passed ? 0 : 1;
}
