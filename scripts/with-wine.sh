#!/bin/sh
# Runs a command with a throwaway Wine prefix, initialised first, and removes it after.
set -eu
WINEPREFIX=$(mktemp -d /tmp/veskar-wine.XXXXXX)
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT INT TERM
wineboot -i >/dev/null 2>&1 </dev/null || true
wineserver -w 2>/dev/null || true
# One server and its helper processes for the whole run, started with no test's
# descriptors: a server started by a test's first wine call would inherit that test's
# stdout and hold it open for seconds after the test's program has ended.
wineserver -p </dev/null >/dev/null 2>&1
wine cmd /c exit </dev/null >/dev/null 2>&1 || true
"$@"
