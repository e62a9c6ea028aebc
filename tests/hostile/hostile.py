#!/usr/bin/python3
"""Hostile surroundings for the built wrapper: closed or broken standard streams, a
client that cannot start, too many arguments, Ctrl+C, and a run under valgrind. Each
case checks the bytes that could be delivered, the status, and that the wrapper ended
within its timeout."""
import argparse
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import Wrapper, add_wrapper_options, check, err, fatal, out, report  # noqa: E402

TIMEOUT = 60


def shell(redirections):
    """A launcher that starts the wrapper with some of its descriptors changed."""
    return ["/bin/sh", "-c", 'exec "$0" "$@" ' + redirections]


# Under Wine only where the descriptors stay open: Wine takes closed ones for its own files.
# name, builds, launcher, client actions, stdout after the banner (None: not seen),
# stderr (None: not seen), status
STDIO_CASES = [
    ("stdout closed: stderr relayed, status from a sign on stderr", ("native",), shell(">&-"),
     [err(b"x\n550 gone\n"), out(b"lost\n")], None, b"x\n550 gone\n", 3),
    ("stdout closed: status from a sign on stdout", ("native",), shell(">&-"),
     [out(b"Login failed.\n")], None, b"", 2),
    ("stdout a full disk: every write fails, the status stands", ("native", "wine"), shell(">/dev/full"),
     [out(b"x\n550 gone\n"), err(b"kept\n")], None, b"kept\n", 3),
    ("stderr closed: its signs still reported and counted", ("native",), shell("2>&-"),
     [err(b"x\n550 lost\n")], report(b"550 lost"), None, 3),
    ("stderr closed: stdout relayed", ("native",), shell("2>&-"),
     [out(b"kept\n")], b"kept\n", None, 0),
    ("stdin closed: the client sees its end", ("native",), shell("<&-"),
     ["i", out(b"x\n550 gone\n")], b"x\n550 gone\n" + report(b"550 gone"), b"", 3),
    # A pipe made with 0 and 1 free would take their numbers, and the client its stdout.
    ("stdin and stdout closed: the client's stdout still reaches the scan", ("native",), shell("<&- >&-"),
     [out(b"x\n550 gone\n"), err(b"Not connected.\n")], None, b"Not connected.\n", 3),
    ("stdin, stdout and stderr all closed", ("native",), shell("<&- >&- 2>&-"),
     [out(b"x\n550 gone\n"), err(b"Not connected.\n")], None, None, 3),
    ("a descriptor the wrapper inherited passes through to the client", ("native",),
     shell("7</dev/null"), ["d"], b"fds:0,1,2,7\n", b"", 0),
    ("stdin is /dev/null", ("native", "wine"), None,
     ["i", out(b"bye\n")], b"bye\n", b"", 0),
]


def run_stdio(wrapper, build, failures):
    count = 0
    for name, builds, launcher, actions, want_out, want_err, status in STDIO_CASES:
        if build not in builds:
            continue
        count += 1
        got = wrapper.run(actions, stdin=None, timeout=TIMEOUT, launcher=launcher,
                          stdout=subprocess.DEVNULL if want_out is None else None,
                          stderr=subprocess.DEVNULL if want_err is None else None)
        check(name, got, (None if want_out is None else wrapper.banner + want_out, want_err, status),
              failures)
    return count


def run_unstartable(wrapper, build, failures):
    """A client that is there but cannot run: nothing starts, not even through a shell.
    The ERROR line is followed by the program tried and the system's reason on stderr;
    on Windows the search passes a folder of the client's name by."""
    count = 0
    found = b"veskar: {dir}\\ftp.exe: Bad EXE format for {dir}\\ftp.exe.\n"
    cases = [("client not executable", {"native": b"veskar: ftp: Permission denied\n"}, 0o644, None),
             ("client executable but no program",
              {"native": b"veskar: ftp: Exec format error\n", "wine": found}, 0o755, b"touch started\n"),
             ("client a directory", {"native": b"veskar: ftp: Permission denied\n",
                                     "wine": b"veskar: ftp.exe: File not found.\n"}, 0o755, "directory")]
    for name, details, mode, content in cases:
        if build not in details:
            continue
        count += 1
        with tempfile.TemporaryDirectory(prefix="veskar-hostile.") as bin_dir:
            command, env = wrapper.prepare(bin_dir, ["m:started"])
            client = os.path.join(bin_dir, "ftp.exe" if wrapper.wine else "ftp")
            if content == "directory":
                os.remove(client)
                os.mkdir(client)
            elif content is not None:
                with open(client, "wb") as f:
                    f.write(content)
            os.chmod(client, mode)
            if not wrapper.wine:
                env["PATH"] = bin_dir  # nothing else called ftp may be found
            p = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, cwd=bin_dir,
                               env=env, timeout=TIMEOUT)
            detail = details[build].replace(b"{dir}", wrapper.native_path(bin_dir).encode())
            check(name, (p.stdout, p.stderr, p.returncode),
                  (wrapper.banner + fatal(b"Create process failed"), detail, 1), failures)
            if os.path.exists(os.path.join(bin_dir, "started")):
                failures.append("%s: the client ran" % name)
    return count


def run_empty_arguments(wrapper, failures):
    """10,000 empty arguments take the Windows command line past its bound: refused,
    unstarted. POSIX, with no bound of its own, hands them all to the client."""
    with tempfile.TemporaryDirectory(prefix="veskar-hostile.") as bin_dir:
        command, env = wrapper.prepare(bin_dir, ["m:started", "a"] + [""] * 10000)
        p = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, cwd=bin_dir,
                           env=env, timeout=TIMEOUT)
        refused = wrapper.wine
        check("10,000 empty arguments", (p.stdout, p.stderr, p.returncode),
              (wrapper.banner + fatal(b"Command line too long"), b"", 1) if refused else
              (wrapper.banner + b"m:started|a|" + b"|" * 10000, b"", 0), failures)
        if os.path.exists(os.path.join(bin_dir, "started")) == refused:
            failures.append("10,000 empty arguments: the client %s" % ("ran" if refused else "never ran"))
    return 1


def read_until(stream, wanted, deadline):
    """Reads from a pipe until `wanted` has come; returns all read."""
    data = b""
    while wanted not in data and time.monotonic() < deadline:
        ready, _, _ = select.select([stream], [], [], 0.2)
        if ready:
            piece = os.read(stream.fileno(), 65536)
            if not piece:
                break
            data += piece
    return data


def run_broken_readers(wrapper, failures):
    """The wrapper's stdout is a pipe whose reader goes away: after 10 bytes, as with
    `| head -c 10`, or before the wrapper writes anything."""
    actions = ["F:o:1000000", out(b"x\n550 gone\n"), err(b"still here\n")]
    with tempfile.TemporaryDirectory(prefix="veskar-hostile.") as bin_dir:
        command, env = wrapper.prepare(bin_dir, actions)
        p = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, cwd=bin_dir, env=env)
        head = p.stdout.read(10)
        p.stdout.close()
        _, stderr = p.communicate(timeout=TIMEOUT)
        check("reader quits after 10 bytes", (head, stderr, p.returncode),
              (wrapper.banner[:10], b"still here\n", 3), failures)

    with tempfile.TemporaryDirectory(prefix="veskar-hostile.") as bin_dir:
        command, env = wrapper.prepare(bin_dir, actions + ["m:started"])
        read_end, write_end = os.pipe()
        os.close(read_end)
        try:
            p = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=write_end,
                               stderr=subprocess.PIPE, cwd=bin_dir, env=env, timeout=TIMEOUT)
        finally:
            os.close(write_end)
        check("reader gone before the banner", (None, p.stderr, p.returncode),
              (None, b"still here\n", 3), failures)
        if not os.path.exists(os.path.join(bin_dir, "started")):
            failures.append("reader gone before the banner: the client never ran")
    return 2


def run_nonblocking_stdout(wrapper, failures):
    """The wrapper's stdout is a nonblocking pipe, full when the wrapper starts, as a
    program earlier in a pipeline can leave it: nothing may be dropped."""
    import fcntl
    with tempfile.TemporaryDirectory(prefix="veskar-hostile.") as bin_dir:
        command, env = wrapper.prepare(bin_dir, [out(b"x\n550 gone\n")])
        read_end, write_end = os.pipe()
        fcntl.fcntl(write_end, fcntl.F_SETFL, fcntl.fcntl(write_end, fcntl.F_GETFL) | os.O_NONBLOCK)
        filler = b""
        try:
            while True:
                filler += b"f" * os.write(write_end, b"f" * 4096)
        except BlockingIOError:
            pass
        p = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=write_end,
                             stderr=subprocess.PIPE, cwd=bin_dir, env=env)
        os.close(write_end)
        time.sleep(0.3)  # a chance to meet the full pipe; the bytes expected are the same either way
        data = b""
        deadline = time.monotonic() + TIMEOUT
        with os.fdopen(read_end, "rb", buffering=0) as reader:
            while time.monotonic() < deadline:
                if select.select([reader], [], [], 0.2)[0]:
                    piece = reader.read(65536)
                    if not piece:
                        break
                    data += piece
        if p.poll() is None:
            p.kill()
        _, stderr = p.communicate(timeout=TIMEOUT)
        check("nonblocking stdout, full at the start", (data, stderr, p.returncode),
              (filler + wrapper.banner + b"x\n550 gone\n" + report(b"550 gone"), b"", 3), failures)
    return 1


def run_ctrl_c(wrapper, failures):
    """Ctrl+C, as the terminal sends it, reaches the whole process group while the
    client runs: the client gets it and goes on, and so does the relay."""
    actions = ["I", out(b"ready\n"), "w:20000", out(b"after\n550 late\n")]
    with tempfile.TemporaryDirectory(prefix="veskar-hostile.") as bin_dir:
        command, env = wrapper.prepare(bin_dir, actions)
        p = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, cwd=bin_dir, env=env, start_new_session=True)
        try:
            first = read_until(p.stdout, b"ready\n", time.monotonic() + TIMEOUT)
            os.killpg(p.pid, signal.SIGINT)
            rest, stderr = p.communicate(timeout=TIMEOUT)
        finally:
            if p.poll() is None:
                p.kill()
                p.wait()
        check("Ctrl+C while the client runs", (first + rest, stderr, p.returncode),
              (wrapper.banner + b"ready\ninterrupted\nafter\n550 late\n" + report(b"550 late"), b"", 3),
              failures)
    return 1


def run_stderr_beside_a_flood(wrapper, failures):
    """A line on stderr, then a long flood on stdout, read slowly: the relay serves
    stderr while stdout still streams, not after it. Reads of a busy stream come in
    bursts, and the other stream must get its turn even while the pipe stays full."""
    flood = 256 * 1024 * 1024
    # The line comes once stdout is busy: after a first MiB, which fills its pipe.
    actions = ["F:o:%d" % (1 << 20), err(b"early\n"), "F:o:%d" % (flood - (1 << 20)),
               err(b"late\n")]
    with tempfile.TemporaryDirectory(prefix="veskar-hostile.") as bin_dir:
        command, env = wrapper.prepare(bin_dir, actions)
        p = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, cwd=bin_dir, env=env)
        streams = [p.stdout.fileno(), p.stderr.fileno()]
        stderr = b""
        stdout_seen = 0
        stdout_when_early = None
        deadline = time.monotonic() + TIMEOUT
        try:
            while streams and time.monotonic() < deadline:
                for fd in select.select(streams, [], [], 0.2)[0]:
                    # A slow reader of stdout until the early line has come: the relay
                    # then lags the client, and every burst of stdout fills up.
                    slow = fd == p.stdout.fileno() and stdout_when_early is None
                    if slow:
                        time.sleep(0.001)
                    piece = os.read(fd, 1 << 16 if slow else 1 << 20)
                    if not piece:
                        streams.remove(fd)
                    elif fd == p.stdout.fileno():
                        stdout_seen += len(piece)  # too much to keep
                    else:
                        stderr += piece
                        if stdout_when_early is None and b"early\n" in stderr:
                            stdout_when_early = stdout_seen
        finally:
            if p.poll() is None:
                p.kill()
            p.wait()
            p.stdout.close()
            p.stderr.close()
        name = "stderr beside a 256 MiB flood on stdout"
        check(name, (None, stderr, p.returncode), (None, b"early\nlate\n", 0), failures)
        if stdout_seen != len(wrapper.banner) + flood:
            failures.append("%s: %d bytes on stdout, want %d"
                            % (name, stdout_seen, len(wrapper.banner) + flood))
        if stdout_when_early is None or stdout_when_early > 16 * 1024 * 1024:
            failures.append("%s: the early stderr line came after %s bytes of stdout"
                            % (name, stdout_when_early))
    return 1


# Rows of the end-to-end table that run once more under valgrind's memcheck.
VALGRIND_ROWS = ("signature and reply line on one line", "report text cut, never its line feed",
                 "reply line split across writes", "1 MiB line: the message at its end",
                 "a grandchild holding the pipes", "duplicate entry reported twice",
                 "unfinished last line scanned at the end")


def run_valgrind(wrapper, failures):
    import run_e2e
    valgrind = shutil.which("valgrind")
    count = 0
    with tempfile.TemporaryDirectory(prefix="veskar-valgrind.") as log_dir:
        for name, actions, stdin, want_out, want_err, status, *only_on in run_e2e.CASES:
            if not name.startswith(VALGRIND_ROWS):
                continue
            count += 1
            log = os.path.join(log_dir, "%d.log" % count)
            launcher = [valgrind, "-q", "--error-exitcode=99", "--leak-check=full",
                        "--errors-for-leak-kinds=all", "--log-file=" + log]
            got = wrapper.run(actions, stdin=stdin, timeout=300, launcher=launcher)
            before = len(failures)
            check("valgrind: " + name, got, (wrapper.banner + want_out, want_err, status), failures)
            if len(failures) > before:
                with open(log) as f:
                    failures.append("valgrind log:\n" + f.read())
    if count != len(VALGRIND_ROWS):
        failures.append("valgrind: %d of %d rows found" % (count, len(VALGRIND_ROWS)))
    return count


def main():
    parser = argparse.ArgumentParser()
    add_wrapper_options(parser)
    parser.add_argument("--valgrind", action="store_true", help="only the runs under valgrind")
    options = parser.parse_args()
    wrapper = Wrapper(options.wrapper, options.client, options.wine)
    build = "wine" if options.wine else "native"

    failures = []
    if options.valgrind:
        count = run_valgrind(wrapper, failures)
    else:
        count = run_stdio(wrapper, build, failures)
        count += run_empty_arguments(wrapper, failures)
        count += run_unstartable(wrapper, build, failures)
        count += run_broken_readers(wrapper, failures)
        count += run_ctrl_c(wrapper, failures)
        if not options.wine:
            count += run_nonblocking_stdout(wrapper, failures)
            count += run_stderr_beside_a_flood(wrapper, failures)
    for f in failures:
        print("FAIL " + f)
    print("%d cases, %d failures" % (count, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
