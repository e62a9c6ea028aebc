"""FTP servers for the acceptance tests, on 127.0.0.1 only.

Run as a script: it prints the port it listens on, then serves until it is killed.
  servers.py real ROOT USER PASSWORD LOG
                                       pyftpdlib, a real server (Debian's /usr/bin/python3);
                                       it hangs up on `cd dropped`, refuses to send
                                       denied.txt, in the C library's words, and sends
                                       stall.bin's first bytes, then nothing, for ever;
                                       it appends the name of each command it receives
                                       to the file LOG, a line each
  servers.py greeting-421              answers every connection with 421 and hangs up
  servers.py drop                      logs in, then drops the control connection
  servers.py silent                    logs in, then never answers again, as behind a
                                       firewall that dropped the connection in silence
"""
import socket
import sys


# What a stalled download gets before its data connection goes quiet.
STALL_BYTES = b"first bytes of a transfer that never ends\n" * 24


def serve_real(root, user, password, log):
    import logging
    import os
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import DTPHandler, FTPHandler
    from pyftpdlib.servers import FTPServer

    logging.disable(logging.CRITICAL)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")

    class Data(DTPHandler):
        def close_when_done(self):
            # A stalled download never ends: no end of file, the connection stays open.
            if not self.cmd_channel.stalling:
                super().close_when_done()

        def initiate_send(self):
            super().initiate_send()
            # With the first bytes out, wait for reads only: a socket that stays
            # writable with nothing to write would spin the server's loop.
            if self.cmd_channel.stalling and not self.producer_fifo:
                self.modify_ioloop_events(self.ioloop.READ)

    class Handler(FTPHandler):
        dtp_handler = Data
        stalling = False

        def pre_process_command(self, line, cmd, arg):
            with open(log, "a") as f:
                f.write(cmd + "\n")
            return super().pre_process_command(line, cmd, arg)

        def ftp_CWD(self, path):
            # A connection the server drops in the middle of a session.
            if path.endswith("/dropped"):
                self.respond("421 Closing the connection.")
                self.close_when_done()
                return
            return super().ftp_CWD(path)

        def ftp_RETR(self, file):
            # The C library's words in a reply, as some servers send them.
            if file.endswith("/denied.txt"):
                self.respond("550 denied.txt: Permission denied")
                return
            # A data connection that goes dead in the middle of a download, while the
            # control connection stays up: no file needed.
            if os.path.basename(file) == "stall.bin":
                self.stalling = True
                self.push_dtp_data(STALL_BYTES, cmd="RETR")
                return
            return super().ftp_RETR(file)

    Handler.authorizer = authorizer
    Handler.auth_failed_timeout = 0.1  # pyftpdlib waits 3 s after a wrong password
    server = FTPServer(("127.0.0.1", 0), Handler)
    print(server.socket.getsockname()[1], flush=True)
    server.serve_forever()


# Replies the misbehaving server gives while a client logs in; any other command
# is where it drops the connection.
LOGIN_REPLIES = {b"USER": b"331 Password required.", b"PASS": b"230 Logged in.",
                 b"SYST": b"215 UNIX Type: L8", b"TYPE": b"200 Type set.",
                 b"FEAT": b"211 End"}


def serve_fake(mode):
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(4)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        # A client that stalls cannot hold the server forever; the silent one outlasts
        # any idle timeout of the tests.
        conn.settimeout(120 if mode == "silent" else 10)
        try:
            if mode == "greeting-421":
                conn.sendall(b"421 Too many users, come back later.\r\n")
                continue
            conn.sendall(b"220 Fake server ready.\r\n")
            for line in conn.makefile("rb"):
                reply = LOGIN_REPLIES.get(line[:4].upper())
                if reply is None and mode == "silent":
                    continue  # read on, answer nothing
                if reply is None:
                    break  # drop: close without a reply, as a crashed server would
                conn.sendall(reply + b"\r\n")
        except OSError:
            pass
        finally:
            # shutdown ends the connection now, even with the line reader still open.
            try:
                conn.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            conn.close()


if __name__ == "__main__":
    if sys.argv[1] == "real":
        serve_real(*sys.argv[2:6])
    else:
        serve_fake(sys.argv[1])
