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
wineboot -i >/dev/null 2>&1 || true
wineserver -w 2>/dev/null || true
"$@"
