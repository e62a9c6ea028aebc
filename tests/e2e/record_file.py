"""The run's record file (VESKAR_LOG) as a target: a FIFO that many runs share, a file
renamed while a run goes on, a file at the size limit, and the mode a new one gets."""
import json
import os
import select
import subprocess
import tempfile
import threading
import time

from harness import err, out

# Long records, past what one write to a pipe puts in whole.
SIXTY_SIGNS = [err(b"x\n550 %d\n" % n) for n in range(60)]


def run_record_fifo(wrapper, failures):
    """20 runs at once append records of 60 signs to one FIFO that a slow reader empties,
    512 bytes every 5 ms: each record is cut to what a pipe takes in one write (PIPE_BUF,
    4096 bytes), so that every line lands whole."""
    name = "record: 20 runs at once into one FIFO"
    with tempfile.TemporaryDirectory(prefix="veskar-e2e.") as bin_dir:
        fifo = os.path.join(bin_dir, "records.fifo")
        os.mkfifo(fifo)
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        keeper = os.open(fifo, os.O_WRONLY)  # no end of the FIFO while runs come and go
        os.set_blocking(reader, True)
        received = []

        def read_slowly():
            while True:
                piece = os.read(reader, 512)
                if not piece:
                    return
                received.append(piece)
                time.sleep(0.005)

        thread = threading.Thread(target=read_slowly)
        thread.start()
        command, env = wrapper.prepare(bin_dir, SIXTY_SIGNS)
        env["VESKAR_LOG"] = fifo
        runs = [subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, cwd=bin_dir, env=env) for _ in range(20)]
        said = [run.communicate(timeout=120)[1] for run in runs]
        os.close(keeper)
        thread.join(timeout=60)
        os.close(reader)
    lines = b"".join(received).split(b"\n")
    try:
        records = [json.loads(line) for line in lines[:-1]]
    except ValueError as error:
        failures.append("%s: a line is no JSON (%s)" % (name, error))
        return 1
    cut = [r for r in records if r["status"] == 3 and len(r["signs"]) + r["signs_left_out"] == 60]
    if len(cut) != 20 or lines[-1] != b"" or any(len(line) + 1 > 4096 for line in lines[:-1]):
        failures.append("%s: %d whole lines of %d within 4096 bytes, want 20" % (name, len(cut), len(lines) - 1))
    relayed = b"".join(b"x\n550 %d\n" % n for n in range(60))
    if any(s != relayed for s in said):
        failures.append("%s: stderr %r" % (name, [s for s in said if s != relayed][0][-200:]))
    return 1 + run_record_fifo_once(wrapper, failures)


def run_record_fifo_once(wrapper, failures):
    """A FIFO whose reader reads until the end, as `cat fifo > file` does: the run keeps
    it open from its check at the start to its record, which the reader gets whole."""
    name = "record: a FIFO read to its end"
    with tempfile.TemporaryDirectory(prefix="veskar-e2e.") as bin_dir:
        fifo = os.path.join(bin_dir, "records.fifo")
        os.mkfifo(fifo)
        # Opened before the run; poll says POLLHUP once a writer has come and every one
        # has gone: where `cat fifo` sees its end.
        reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
        poller = select.poll()
        poller.register(reader, select.POLLIN)
        command, env = wrapper.prepare(bin_dir, [err(b"x\n550 gone\n")])
        env["VESKAR_LOG"] = fifo
        run = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               cwd=bin_dir, env=env)
        received = b""
        deadline = time.time() + 60
        while time.time() < deadline:
            events = poller.poll(100)
            mask = events[0][1] if events else 0
            piece = os.read(reader, 65536) if mask & select.POLLIN else b""
            if not piece and mask & select.POLLHUP:
                break
            received += piece
        try:
            said = run.communicate(timeout=60)[1]
        except subprocess.TimeoutExpired:
            run.kill()
            said = run.communicate()[1]
        os.close(reader)
    lines = received.split(b"\n")
    if run.returncode != 3 or said != b"x\n550 gone\n" or len(lines) != 2 or \
            json.loads(lines[0] or b"{}").get("status") != 3:
        failures.append("%s: status %d, stderr %r, the reader got %r" % (name, run.returncode, said, lines))
    return 1


def run_record_rotation(wrapper, failures):
    """The record's file renamed while a run goes on, as logrotate does: the record goes
    to a new file of that name, the renamed one gets nothing."""
    name = "record: the file renamed during the run"
    with tempfile.TemporaryDirectory(prefix="veskar-e2e.") as bin_dir:
        command, env = wrapper.prepare(bin_dir, ["m:started", "s:2000", out(b"x\n550 gone\n")])
        log = os.path.join(bin_dir, "record.jsonl")
        run = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, cwd=bin_dir, env=env)
        deadline = time.monotonic() + 60
        while not os.path.exists(os.path.join(bin_dir, "started")) and time.monotonic() < deadline:
            time.sleep(0.02)
        os.rename(log, log + ".1")
        run.wait(timeout=120)
        with open(log + ".1", "rb") as f:
            rotated = f.read()
        fresh = wrapper.record_of(bin_dir) or b""
    if rotated or fresh.count(b"\n") != 1 or json.loads(fresh)["status"] != 3:
        failures.append("%s: the renamed file holds %r, the new one %r" % (name, rotated, fresh))
    return 1


def run_record_size_limit(wrapper, failures):
    """A record file at the file size limit (ulimit -f): the write fails (EFBIG; veskar
    ignores SIGXFSZ), said in one line, and the status stays the run's. The client gets
    SIGXFSZ as it would without veskar."""
    name = "record: the file at the size limit"
    full = b"{}\n" * 1000
    for actions, want in (([out(b"x\n550 gone\n")], 3), (["W:1000"], 5)):
        with tempfile.TemporaryDirectory(prefix="veskar-e2e.") as bin_dir:
            command, env = wrapper.prepare(bin_dir, actions)
            with open(os.path.join(bin_dir, "record.jsonl"), "wb") as f:
                f.write(full)
            p = subprocess.run(["prlimit", "--fsize=%d" % len(full), "--"] + command, stdin=subprocess.DEVNULL,
                               capture_output=True, cwd=bin_dir, env=env, timeout=60)
            record = wrapper.record_of(bin_dir)
        said = b"veskar: the run's record could not be written to VESKAR_LOG\n"
        if (p.stderr, p.returncode, record) != (said, want, full):
            failures.append("%s: stderr %r, status %d, the file %s" % (name, p.stderr, p.returncode,
                                                                       "unchanged" if record == full else "changed"))
        if want == 5 and b"ftp ended by signal 25" not in p.stdout:
            failures.append("%s: the client's SIGXFSZ: %r" % (name, p.stdout))
    return 2


def run_record_mode(wrapper, failures):
    """A record file veskar creates is its owner's alone (0600), whatever the umask lets."""
    name = "record: a new file's mode"
    with tempfile.TemporaryDirectory(prefix="veskar-e2e.") as bin_dir:
        command, env = wrapper.prepare(bin_dir, [out(b"ok\n")])
        subprocess.run(["/bin/sh", "-c", 'umask 0; exec "$0" "$@"'] + command, stdin=subprocess.DEVNULL,
                       capture_output=True, cwd=bin_dir, env=env, timeout=60)
        mode = os.stat(os.path.join(bin_dir, "record.jsonl")).st_mode & 0o777
    if mode != 0o600:
        failures.append("%s: %o, want 600" % (name, mode))
    return 1
