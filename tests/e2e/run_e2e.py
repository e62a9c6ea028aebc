#!/usr/bin/python3
"""End-to-end tests: the built wrapper in front of the fake client, native or under Wine.
Each row: name, client actions, stdin, expected stdout after the banner, expected
stderr, expected status, and optionally the one build it is for ("native" or "wine")."""
import argparse
import sys

from harness import Wrapper, add_wrapper_options, check, err, fatal, flood, out, report, REPORT_BANNER as BARE

MiB = 1024 * 1024

WRONG_PASSWORD = b"220 ready\r\n331 Password required.\r\n530 Login incorrect.\r\nLogin failed.\r\nftp> "
WRONG_PASSWORD_REPORTS = report(b"530 Login incorrect.\r") + report(b"Login failed.")
DROPPED = b"421 Service not available, remote server has closed connection\r\nNot connected.\r\n" \
          b"Not connected.\r\n"

CASES = [
    # Start-up and exit status
    ("silent client", ["x:0"], b"", b"", b"", 0),
    ("client's own exit code plays no part", ["o:done\\n", "x:7"], b"", b"done\n", b"", 0),
    ("stdin is shared with the client", ["i"], b"user anon\nbye\n", b"user anon\nbye\n", b"", 0),
    ("arguments split at blanks only, unquoted", ["a", "two words", "", b"%s\\\"q\xe9", "\ttab"], b"",
     b"a|two|words|%s\\\"q\xe9|tab|", b"", 0, "native"),
    # The runtime's own splitting takes the quotes away; the wrapper does not put them back.
    ("quoted arguments reach the client as words", ["a", "two words", "", "50%"], b"",
     b"a|two|words|50%|", b"", 0),

    # Relay: both streams, exact bytes, reports on stdout only
    ("stdout only", [out(b"220 ready\r\nftp> ")], b"", b"220 ready\r\nftp> ", b"", 0),
    ("stderr echoed to stderr, its report to stdout", [err(b"x\n550 gone\n")], b"",
     report(b"550 gone"), b"x\n550 gone\n", 3),
    ("binary bytes and lone CRs pass unchanged", [out(b"\x00\xff\r\r\n\x80\rx")], b"",
     b"\x00\xff\r\r\n\x80\rx", b"", 0),
    ("megabytes on stderr before any stdout", ["F:e:%d" % (8 * MiB), out(b"done\n")], b"",
     b"done\n", flood("e", 8 * MiB), 0),
    ("both streams flooded, interleaved", ["F:b:%d" % (16 * MiB)], b"",
     flood("o", 16 * MiB), flood("e", 16 * MiB), 0),
    ("a grandchild holding the pipes is waited for", ["g:400", out(b"parent\n")], b"",
     b"parent\ngrandchild done\n", b"", 0),
    ("client killed mid-output", [out(b"partial 550"), "k"], b"", b"partial 550", b"", 0),

    # Signatures
    ("signature in a line", [out(b"ftp> Login failed.\n")], b"",
     b"ftp> Login failed.\n" + report(b"Login failed."), b"", 2),
    ("duplicate entry reported twice", [out(b"The network is down\n")], b"",
     b"The network is down\n" + report(b"The network is down") * 2, b"", 2),
    ("signature split across writes", [out(b"Login fa"), "s:60", out(b"iled.\n")], b"",
     b"Login failed.\n" + report(b"Login failed."), b"", 2),
    ("unfinished last line scanned at the end", [out(b"ftp> Not connected.")], b"",
     b"ftp> Not connected." + report(b"Not connected."), b"", 2),
    ("zero byte hides a signature after it", [out(b"\x00too deep\n")], b"", b"\x00too deep\n", b"", 0),
    ("signature and reply line on one line: two reports, status 2",
     [out(b"x\r\n550 Requested action not taken.\r\n")], b"",
     b"x\r\n550 Requested action not taken.\r\n" + report(b"550 Requested action not taken.")
     + report(b"550 Requested action not taken.\r"), b"", 2),

    # Line order: the signs of a stream count line by line, however its writes fall.
    # The sessions go to stderr, so that stdout holds the reports alone.
    ("wrong password in one write", [err(WRONG_PASSWORD)], b"", WRONG_PASSWORD_REPORTS,
     WRONG_PASSWORD, 3),
    ("wrong password, a write per line", [a for line in WRONG_PASSWORD.splitlines(True)
                                          for a in (err(line), "s:30")], b"",
     WRONG_PASSWORD_REPORTS, WRONG_PASSWORD, 3),
    ("wrong password in five-byte writes", [a for at in range(0, len(WRONG_PASSWORD), 5)
                                            for a in (err(WRONG_PASSWORD[at:at + 5]), "s:5")], b"",
     WRONG_PASSWORD_REPORTS, WRONG_PASSWORD, 3),
    ("dropped connection in one write: the 421 first", [err(DROPPED)], b"",
     report(b"421 Service not available, remote server has closed connection\r")
     + report(b"Not connected.") * 2, DROPPED, 3),
    ("two identical messages in one write: two reports", [out(b"Not connected.\nNot connected.\n")],
     b"", b"Not connected.\nNot connected.\n" + report(b"Not connected.") * 2, b"", 2),
    # A server's reply in the C library's words is a server error, on every build.
    ("reply holding 'No such file or directory': one report",
     [out(b"x\r\n550 absent.txt: No such file or directory\r\n")], b"",
     b"x\r\n550 absent.txt: No such file or directory\r\n"
     + report(b"550 absent.txt: No such file or directory\r"), b"", 3),
    ("reply holding 'Permission denied': one report",
     [out(b"x\n553 Can't open that file: Permission denied\n")], b"",
     b"x\n553 Can't open that file: Permission denied\n"
     + report(b"553 Can't open that file: Permission denied"), b"", 3),
    ("a local 'No such file or directory' is a client message",
     [out(b"ftp: local: x: No such file or directory\n")], b"",
     b"ftp: local: x: No such file or directory\n" + report(b"No such file or directory"), b"", 2,
     "native"),

    # Reply lines
    ("reply line that opens the stream", [out(b"530 Login incorrect.\r\n")], b"",
     b"530 Login incorrect.\r\n" + report(b"530 Login incorrect.\r"), b"", 3),
    ("reply line split across writes", [out(b"x\n55"), "s:60", out(b"0 gone\n")], b"",
     b"x\n550 gone\n" + report(b"550 gone"), b"", 3),
    ("multi-line reply: only the last line counts", [out(b"x\n550-a\n550 b\n")], b"",
     b"x\n550-a\n550 b\n" + report(b"550 b"), b"", 3),
    ("codes 1xx to 3xx are no sign", [out(b"220 hi\n331 pw\n150 x\n226 ok\n")], b"",
     b"220 hi\n331 pw\n150 x\n226 ok\n", b"", 0),
    ("codes 6xx to 9xx are signs", [out(b"631 x\n")], b"", b"631 x\n" + report(b"631 x"), b"", 3),
    ("reply line without line feed: banner alone", [out(b"x\n421 ")], b"", b"x\n421 " + BARE, b"", 3),
    # On two streams, so that the order of the signs never depends on how reads fall.
    ("first sign decides the status", [out(b"530 no\n"), "s:60", err(b"too deep\n")], b"",
     b"530 no\n" + report(b"530 no") + report(b"too deep"), b"too deep\n", 3),
    ("the client inherits only its standard descriptors", ["d"], b"", b"fds:0,1,2\n", b"", 0, "native"),
    ("client text is never a format", [out(b"550 %s%n%d%%\n")], b"",
     b"550 %s%n%d%%\n" + report(b"550 %s%n%d%%"), b"", 3),
    ("report line cut to the line buffer", [out(b"550 " + b"y" * 1996 + b"\n")], b"",
     b"550 " + b"y" * 1996 + b"\n" + BARE + (b"Error text: 550 " + b"y" * 1996)[:1023], b"", 3),

    # Hostile output. Long output goes to stderr, so that stdout holds the reports alone
    # whatever the reads.
    ("client killed after a sign, mid-output", [err(b"x\n550 gone\n"), "F:e:100000", "k"], b"",
     report(b"550 gone"), b"x\n550 gone\n" + flood("e", 100000), 3),
    ("both streams flooded with 64 MiB each, interleaved", ["F:b:%d" % (64 * MiB)], b"",
     flood("o", 64 * MiB), flood("e", 64 * MiB), 0),
    ("lines of 1 MiB pass unchanged", ["y:o:%d" % MiB, out(b"\n"), "y:o:%d" % MiB, out(b"\n")], b"",
     (b"y" * MiB + b"\n") * 2, b"", 0),
    ("1 MiB line: reply at its start without text, signature at its end",
     [err(b"x\n550 start "), "y:e:%d" % MiB, err(b" Login failed.\n550 after\n")], b"",
     BARE + report(b"Login failed.") + report(b"550 after"),
     b"x\n550 start " + b"y" * MiB + b" Login failed.\n550 after\n", 3),
    ("reply line of 5000 bytes: banner without text", [err(b"x\n550 "), "y:e:4995", err(b"\n")], b"",
     BARE, b"x\n550 " + b"y" * 4995 + b"\n", 3),
    ("reply after a lone CR: its text runs to the line feed", [out(b"a\r550 x\rb\r\r\n")], b"",
     b"a\r550 x\rb\r\r\n" + report(b"550 x\rb\r\r"), b"", 3),
    ("CR CR LF ends a reply line", [out(b"x\r\r\n530 no\r\r\n")], b"",
     b"x\r\r\n530 no\r\r\n" + report(b"530 no\r\r"), b"", 3),
    ("invalid UTF-8 around a signature", [out(b"\xc3\x28\xff Login failed.\xfe\n")], b"",
     b"\xc3\x28\xff Login failed.\xfe\n" + report(b"Login failed."), b"", 2),
    ("zero byte before the line feed: banner without text", [out(b"x\n550 a\x00b\n")], b"",
     b"x\n550 a\x00b\n" + BARE, b"", 3),
    ("percent signs in a signature's line and a reply on stderr",
     [err(b"100% Not connected. %s\n"), "s:100", err(b"x\n452 %x%n 50%\n")], b"",
     report(b"Not connected.") + report(b"452 %x%n 50%"), b"100% Not connected. %s\nx\n452 %x%n 50%\n", 2),
    ("quotes, percent, backslashes and non-ASCII reach the client unchanged",
     ["a", "'single'", '"double"', "%n%s%%", "C:\\dir\\", b"\xff\xfe\x80", "\u00e9t\u00e9"], b"",
     b"a|'single'|\"double\"|%n%s%%|C:\\dir\\|\xff\xfe\x80|\xc3\xa9t\xc3\xa9|", b"", 0, "native"),
    # The most words a command line within its bound can hold: one byte and a space each.
    ("1021 one-byte arguments reach the client", ["a"] + ["y"] * 1020, b"", b"a|" + b"y|" * 1020, b"", 0,
     "native"),
]

# A reply line split across two writes at every position still counts.
SPLIT_LINE = b"ok\r\n550 gone\r\n"
for cut in range(1, len(SPLIT_LINE)):
    CASES.append(("reply line split at %d" % cut, [out(SPLIT_LINE[:cut]), "s:30", out(SPLIT_LINE[cut:])],
                  b"", SPLIT_LINE + report(b"550 gone\r"), b"", 3))


def run_special(wrapper, failures):
    """Cases that need more than a row: a missing client, the command-line bound."""
    got = wrapper.run(["o:started\\n"], with_client=False)
    check("client not found", got, (wrapper.banner + fatal(b"Create process failed"), b"", 1), failures)

    prefix = len("ftp.exe " if wrapper.wine else "ftp ")
    # "o:" plus padding, and its space, take the line to exactly 2047 characters.
    fits = "o:" + "y" * (2047 - prefix - 3)
    got = wrapper.run([fits])
    check("command line at the bound", got, (wrapper.banner + b"y" * (2047 - prefix - 3), b"", 0), failures)
    got = wrapper.run([fits + "y"])
    check("command line one byte past the bound", got,
          (wrapper.banner + fatal(b"Command line too long"), b"", 1), failures)


def main():
    parser = argparse.ArgumentParser()
    add_wrapper_options(parser)
    parser.add_argument("-k", dest="only", default="", help="run only cases whose name holds this")
    options = parser.parse_args()
    wrapper = Wrapper(options.wrapper, options.client, options.wine)

    failures = []
    count = 0
    build = "wine" if options.wine else "native"
    for name, actions, stdin, want_out, want_err, status, *only_on in CASES:
        if options.only not in name or (only_on and only_on[0] != build):
            continue
        count += 1
        got = wrapper.run(actions, stdin=stdin)
        check(name, got, (wrapper.banner + want_out, want_err, status), failures)
    if not options.only:
        run_special(wrapper, failures)
        count += 3
    for f in failures:
        print("FAIL " + f)
    print("%d passed, %d failed" % (count - len(failures), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
