#!/usr/bin/python3
"""What VESKAR_ON_FAILURE=stop costs a line: a script of 200 `pwd` lines through veskar
and each Debian client against pyftpdlib on 127.0.0.1, three runs with the setting and
three without, interleaved. Prints one row per client, name|target|measured|verdict.

    stop_lines.py VESKAR [--smoke]

Debian's /usr/bin/python3, which can import pyftpdlib. --smoke runs each once with a
few lines and judges nothing."""
import os
import statistics
import subprocess
import sys
import tempfile
import time

CLIENTS = [("tnftp", "/usr/bin/tnftp"), ("inetutils-ftp", "/usr/bin/inetutils-ftp")]
SERVER = """
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.disable(logging.CRITICAL)
authorizer = DummyAuthorizer()
authorizer.add_user("bench", "bench", sys.argv[1], perm="elr")
FTPHandler.authorizer = authorizer
server = FTPServer(("127.0.0.1", 0), FTPHandler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
"""


def run(veskar, client, port, script, stop):
    env = {"PATH": "/usr/bin:/bin", "VESKAR_FTP": client, "LC_ALL": "C"}
    if stop:
        env["VESKAR_ON_FAILURE"] = "stop"
    began = time.monotonic()
    done = subprocess.run([veskar, "-n", "-v", "-p", "127.0.0.1", str(port)], input=script,
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=env, timeout=120,
                          start_new_session=True)
    took = time.monotonic() - began
    if done.returncode != 0:
        sys.exit("stop_lines: veskar ended with %d" % done.returncode)
    return took


def main():
    veskar = os.path.abspath(sys.argv[1])
    smoke = "--smoke" in sys.argv
    lines, rounds = (5, 1) if smoke else (200, 3)
    script = b"user bench bench\n" + b"pwd\n" * lines + b"quit\n"
    with tempfile.TemporaryDirectory(prefix="veskar-bench.") as root:
        server = subprocess.Popen([sys.executable, "-c", SERVER, root], stdout=subprocess.PIPE,
                                  stderr=subprocess.DEVNULL)
        try:
            port = int(server.stdout.readline())
            for name, client in CLIENTS:
                if not os.path.exists(client):
                    continue
                run(veskar, client, port, script, False)  # warm-up
                plain, stop = [], []
                for _ in range(rounds):
                    plain.append(run(veskar, client, port, script, False))
                    stop.append(run(veskar, client, port, script, True))
                cost = (statistics.median(stop) - statistics.median(plain)) / lines
                verdict = "(smoke)" if smoke else "PASS" if cost <= 1e-3 else "FAIL"
                print("VESKAR_ON_FAILURE=stop, cost of a line: %d pwd lines through %s against pyftpdlib, "
                      "median of %d runs each way|<= 1 ms a line|%.3f ms a line (%.0f ms with the setting, "
                      "%.0f ms without)|%s" % (lines, name, rounds, cost * 1e3, statistics.median(stop) * 1e3,
                                               statistics.median(plain) * 1e3, verdict), flush=True)
        finally:
            server.kill()
            server.wait()


if __name__ == "__main__":
    main()
