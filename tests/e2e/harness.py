"""Runs the built wrapper as a user would, in front of the fake client, and checks the
exact bytes of its stdout and stderr and its exit status."""
import concurrent.futures
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import threading

REPORT_BANNER = b"*************** Error Found ***************\n"
FLOOD_LINE = b"?0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!\n"


def report(text):
    """The two report lines for a sign whose text is `text`."""
    return REPORT_BANNER + b"Error text: " + text + b"\n"


def fatal(message):
    return b"ERROR: " + message + b"\n"


def flood(stream, size):
    """The bytes the fake client's flood writes on `stream` ('o' or 'e')."""
    line = stream.encode() + FLOOD_LINE[1:]
    return (line * (size // len(line) + 1))[:size]


def encode(data):
    """One fake-client argument that writes `data`, blanks and odd bytes escaped: it
    needs no quotes on the command line and passes every build's code pages unchanged."""
    out = []
    for byte in data:
        if byte == 0x20:
            out.append("\\s")
        elif byte == 0x5C:
            out.append("\\\\")
        elif 0x21 <= byte <= 0x7E:
            out.append(chr(byte))
        else:
            out.append("\\x%02x" % byte)
    return "".join(out)


def out(data):
    return "o:" + encode(data)


def err(data):
    return "e:" + encode(data)


class Wrapper:
    """The wrapper under test, native or under Wine, with a fake client of its own."""

    def __init__(self, wrapper, client, wine):
        self.wrapper = os.path.abspath(wrapper)
        self.client = os.path.abspath(client)
        self.wine = wine
        self.banner = b"\r\nVESKAR - ftp shell\r\nCalling FTP...\r\n" if wine else \
            b"\nVESKAR - ftp shell\nCalling FTP...\n"
        self.runs = threading.local()  # each thread's last run's record (VESKAR_LOG)

    def native_path(self, path):
        """`path` as the wrapper's system names it."""
        return "Z:" + path.replace("/", "\\") if self.wine else path

    def record_of(self, bin_dir):
        """The record file of the run in `bin_dir`, or None where the run wrote none."""
        try:
            with open(os.path.join(bin_dir, RECORD), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def prepare(self, bin_dir, args, with_client=True, client_name=None, launcher=None):
        """Puts the fake client into `bin_dir` (unless with_client is false) and returns
        the command and environment that run the wrapper with `args` in front of it.
        `launcher`, a command prefix, runs the wrapper (valgrind, a shell that closes a
        descriptor first)."""
        name = client_name or ("ftp.exe" if self.wine else "ftp")
        if with_client:
            shutil.copy(self.client, os.path.join(bin_dir, name))
        # The wrapper's own settings come only from the case that sets them, but for the
        # run's record, which every run writes, to be checked against its reports.
        env = {key: value for key, value in os.environ.items() if not key.startswith("VESKAR_")}
        env["VESKAR_LOG"] = self.native_path(os.path.join(bin_dir, RECORD))
        if self.wine:
            # The client is found through the search path; never beside the wrapper.
            env["WINEPATH"] = "Z:" + bin_dir.replace("/", "\\")
            # scripts/with-wine.sh names the loader for the build under test.
            command = [os.environ.get("VESKAR_TEST_WINE", "wine"), self.wrapper] + list(args)
        else:
            env["PATH"] = bin_dir + (":" + env["PATH"] if with_client else "")
            command = [self.wrapper] + list(args)
        return list(launcher or []) + command, env

    def run(self, args, stdin=b"", timeout=120, with_client=True, stdout=None, stderr=None,
            client_name=None, env_extra=None, launcher=None):
        """Runs the wrapper with `args` in a fresh directory that holds the fake client
        (unless with_client is false). Returns (stdout, stderr, status); bytes not
        captured are None. stdout/stderr may be a file object or subprocess constant."""
        with tempfile.TemporaryDirectory(prefix="veskar-e2e.") as bin_dir:
            command, env = self.prepare(bin_dir, args, with_client, client_name, launcher)
            env.update(env_extra or {})
            process = subprocess.run(
                command, input=stdin, stdin=subprocess.DEVNULL if stdin is None else None,
                stdout=subprocess.PIPE if stdout is None else stdout,
                stderr=subprocess.PIPE if stderr is None else stderr,
                cwd=bin_dir, env=env, timeout=timeout)
            self.runs.record = self.record_of(bin_dir)
            return process.stdout, process.stderr, process.returncode

    def last_record(self):
        """The record the calling thread's last run wrote, or None."""
        return getattr(self.runs, "record", None)


RECORD = "record.jsonl"
# The most of a reply's text a report shows.
REPORT_TEXT_SIZE = 1010


def client_text(data, wine):
    """Client bytes as the run's record writes them: UTF-8 as it is (where a report's text
    was cut at 1010 bytes inside a character, that character left out); otherwise,
    natively, each bad piece as U+FFFD, and on Windows the bytes read in the OEM code page
    (437 under Wine in the C locale)."""
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        if len(data) == REPORT_TEXT_SIZE and error.reason == "unexpected end of data":
            return client_text(data[:error.start], wine)
        return data.decode("cp437") if wine else data.decode("utf-8", "replace")


def reports_in(output):
    """The texts of the reports in `output`, in order; None for a banner alone."""
    texts = []
    for part in output.split(REPORT_BANNER)[1:]:
        texts.append(part[len(b"Error text: "):part.index(b"\n")] if part.startswith(b"Error text: ") else None)
    return texts


def check_record(name, record, want_out, status, wine, failures, want_err=None):
    """The run's record: one line of JSON with the run's status, and its signs, the
    ignored ones left out, those that `want_out` (stdout after the banner) reports. With
    `want_err`, the run's stderr: its error, the ERROR line's text, and its detail, the
    stderr's detail line but for "veskar: ", or null."""
    if record is None:
        if status != 1:  # only a run refused before the record's file was opened has none
            failures.append("%s: no record" % name)
        return
    if not record.endswith(b"\n") or record.count(b"\n") != 1:
        failures.append("%s: the record is not one whole line: %s" % (name, show(record)))
        return
    try:
        fields = json.loads(record.decode("utf-8"))
    except (UnicodeDecodeError, ValueError) as error:
        failures.append("%s: the record is no JSON (%s): %s" % (name, error, show(record)))
        return
    # A run ended by the signal it was stopped with has no status of its own.
    want_status = None if status < 0 else status
    if fields["status"] != want_status:
        failures.append("%s: the record's status is %s, want %s" % (name, fields["status"], want_status))
    if want_err is not None and status == 1:
        error = want_out[want_out.index(b"ERROR: ") + 7:].rstrip(b"\n").decode()
        details = [line[8:].decode() for line in want_err.splitlines() if line.startswith(b"veskar: ")]
        got = (fields["error"], fields["error_detail"])
        if got != (error, details[-1] if details else None):
            failures.append("%s: the record's error and detail %r, want %r" % (name, got, (error, details)))
    signs = [s["text"] for s in fields["signs"] if not s["ignored"]]
    want = ["" if t is None else client_text(t, wine) for t in reports_in(want_out or b"")]
    # A text is cut to what a record holds of it.
    if len(signs) != len(want) or any(not w.startswith(s) for s, w in zip(signs, want)):
        failures.append("%s: the record's signs %r, want %r" % (name, signs, want))


def add_wrapper_options(parser):
    """The options of every script that runs the wrapper: which wrapper, which fake
    client, and which build (native, or Windows under Wine)."""
    parser.add_argument("--wrapper", required=True)
    parser.add_argument("--client", required=True)
    mode = parser.add_mutually_exclusive_group(required=True)
    mode.add_argument("--native", action="store_true")
    mode.add_argument("--wine", action="store_true")


def run_side_by_side(cases, jobs):
    """Runs `cases`, each a function that appends its failures to the list it is given
    and returns how many checks it made, at most `jobs` at a time. Every case works in
    a directory of its own. Returns (checks, failures), the failures in the order of
    `cases` whatever order the runs end in."""
    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, jobs)) as pool:
        runs = [(pool.submit(case, found), found) for case, found in ((c, []) for c in cases)]
        checks = sum(run.result() for run, _ in runs)
    return checks, [f for _, found in runs for f in found]


def digest(data):
    return "%d bytes, sha256 %s" % (len(data), hashlib.sha256(data).hexdigest()[:16])


def show(data):
    if data is None:
        return "(not captured)"
    return repr(data) if len(data) <= 600 else digest(data)


def check(name, got, want, failures):
    """Compares (stdout, stderr, status) triples; None in `want` means not checked."""
    labels = ("stdout", "stderr", "status")
    for label, g, w in zip(labels, got, want):
        if w is None or g == w:
            continue
        failures.append("%s: %s\n    want %s\n    got  %s" % (name, label, show(w) if label != "status" else w,
                                                             show(g) if label != "status" else g))
