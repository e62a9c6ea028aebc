#!/bin/sh
# make demo: veskar on real FTP sessions: a good one, one that goes wrong, and one whose
# failure VESKAR_ON_FAILURE=stop keeps from deleting the server's only copy of a file.
#
# Starts a throwaway FTP server (pyftpdlib) on 127.0.0.1, runs the system's ftp client
# through veskar with a scripted session on stdin, and prints each exit status with
# what it means. The server is stopped by its process id however the demo ends.
set -eu
cd "$(dirname "$0")/.."

veskar=$PWD/build/demo/veskar
python=/usr/bin/python3  # Debian's python3, the one that can import pyftpdlib
if [ ! -x "$veskar" ]; then
  echo "No $veskar yet: run 'make demo', which builds it first." >&2
  exit 1
fi

work=$(mktemp -d /tmp/veskar-demo.XXXXXX)
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

say() { printf '%s\n' "$*"; }
if [ -t 1 ]; then bold=$(printf '\033[1m') plain=$(printf '\033[0m'); else bold="" plain=""; fi
heading() { printf '\n%s%s%s\n' "$bold" "$*" "$plain"; }

meaning() {
  case $1 in
    0) say "no failure sign: the session went well, a script may carry on." ;;
    1) say "veskar could not start the ftp client." ;;
    2) say "failure: the first sign was one of veskar's known failure messages." ;;
    3) say "failure: the first sign was an FTP error reply (a code from 400 to 999)." ;;
    *) say "unexpected." ;;
  esac
}

# --- The server: a user, a password and a root directory that exist only for this run.
user=demo
password=$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
mkdir "$work/server-root" "$work/client"
cat >"$work/server.py" <<'EOF'
import sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, user, password = sys.argv[1:4]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
FTPHandler.authorizer = authorizer
FTPHandler.auth_failed_timeout = 0.5  # the default keeps a wrong password waiting 3 s
server = FTPServer(("127.0.0.1", 0), FTPHandler)  # port 0: the system picks a free one
print(server.socket.getsockname()[1], flush=True)
server.serve_forever()
EOF
"$python" "$work/server.py" "$work/server-root" "$user" "$password" \
  >"$work/port" 2>"$work/server.log" &
server_pid=$!

tries=0
while [ ! -s "$work/port" ]; do
  tries=$((tries + 1))
  if [ $tries -gt 100 ] || ! kill -0 "$server_pid" 2>/dev/null; then
    say "The FTP server did not start:" >&2
    cat "$work/server.log" >&2
    exit 1
  fi
  sleep 0.1
done
port=$(cat "$work/port")

client=$(command -v ftp || true)
if [ -z "$client" ]; then
  say "No ftp client on PATH; scripts/install-deps.sh installs one." >&2
  exit 1
fi

heading "veskar demo"
say "veskar runs the command-line ftp client, shows everything it prints, and ends with"
say "an exit status that says whether anything went wrong. The client's own status does"
say "not: it is 0 whatever happened."
say ""
say "Server: pyftpdlib on 127.0.0.1 port $port, user '$user', password '$password'."
say "Client: $client (resolves to $(readlink -f "$client"))."
say "Each session runs: veskar -n -v -p 127.0.0.1 $port < commands"
say "  (-n: log in with the 'user' command, -v: show the server's replies, -p: passive mode)"

# Runs one session through veskar, its commands on stdin, with the settings given after
# the file (NAME=VALUE); leaves the status in $status.
run_session() {
  commands=$1
  shift
  say "Commands on stdin:"
  sed 's/^/    /' "$commands"
  say "Output:"
  status=0
  (cd "$work/client" && env "$@" "$veskar" -n -v -p 127.0.0.1 "$port" <"$commands") || status=$?
  say ""
  say ">>> exit status $status: $(meaning $status)"
}

# --- Session 1: everything works.
heading "Session 1: log in, upload a file, list, download it back"
printf 'Hello from the veskar demo.\n' >"$work/client/hello.txt"
cat >"$work/good.txt" <<EOF
user $user $password
binary
put hello.txt
ls
get hello.txt hello-back.txt
quit
EOF
run_session "$work/good.txt"
good=$status
if cmp -s "$work/client/hello.txt" "$work/client/hello-back.txt"; then
  say "    The downloaded copy matches the upload."
else
  say "    The downloaded copy does NOT match the upload."
  good=broken
fi

# --- Session 2: a file that is not there, then a wrong password on a new connection.
heading "Session 2: fetch a missing file, then log in again with a wrong password"
cat >"$work/bad.txt" <<EOF
user $user $password
get no-such-file.txt
close
open 127.0.0.1 $port
user $user wrong-password
quit
EOF
run_session "$work/bad.txt"
bad=$status
direct=0
(cd "$work/client" && ftp -n -v -p 127.0.0.1 "$port" <"$work/bad.txt" >/dev/null 2>&1) || direct=$?
say "    For comparison, the same session straight through ftp, without veskar: exit status $direct."

# --- Session 3: a download that fails, then a delete of the server's only copy, run
# without VESKAR_ON_FAILURE and with VESKAR_ON_FAILURE=stop.
cat >"$work/nightly.txt" <<EOF
user $user $password
binary
get daily.csv /dev/full
delete daily.csv
quit
EOF
# Says whether the server still has daily.csv; leaves "kept" or "deleted" in $left.
server_file() {
  left=deleted
  [ -f "$work/server-root/daily.csv" ] && left=kept
  if [ $left = kept ]; then
    say "    The server's daily.csv after this run: still there."
  else
    say "    The server's daily.csv after this run: DELETED, and the download never arrived."
  fi
}
heading "Session 3a: download daily.csv onto a full disk (/dev/full), then delete it on the server"
printf 'date,amount\n2026-12-08,42\n' >"$work/server-root/daily.csv"
run_session "$work/nightly.txt" VESKAR_ON_FAILURE=continue
server_file
without=$left
heading "Session 3b: the same with VESKAR_ON_FAILURE=stop"
printf 'date,amount\n2026-12-08,42\n' >"$work/server-root/daily.csv"
run_session "$work/nightly.txt" VESKAR_ON_FAILURE=stop
stopped=$status
server_file
with=$left
say "    veskar handed the client each line only once it waited for one, and none after the"
say "    failed download: the delete never reached the server."

heading "Summary"
say "Session 1 ended with $good, session 2 with $bad, session 3b with $stopped."
say "Session 3: without VESKAR_ON_FAILURE=stop the server's only copy was $without; with it, $with."
say "Each '*************** Error Found ***************' block above is veskar's report"
say "of one failure sign; the client's own lines pass through unchanged."
say "A script only has to look at veskar's exit status."

# The demo fails if veskar did not tell the sessions apart, or the stop let the delete through.
[ "$good" = 0 ] && { [ "$bad" = 2 ] || [ "$bad" = 3 ]; } && [ "$stopped" = 2 ] && [ "$with" = kept ] &&
  [ "$without" = deleted ]
