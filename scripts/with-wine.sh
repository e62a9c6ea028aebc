#!/bin/sh
# Runs a command with a throwaway Wine prefix, initialised first, and removes it after.
#
#   scripts/with-wine.sh win32|win64 [--meanwhile SHELL-COMMAND] COMMAND...
#   scripts/with-wine.sh --can-run win32|win64
#
# win32 runs Windows programs through Debian's `wine` launcher, as the 32-bit build
# always has. win64 runs Wine's 64-bit loader itself: the launcher picks the 32-bit one
# whenever wine32 is installed, even on a kernel that cannot run 32-bit programs.
# Either way the command finds the program that starts a Windows program in
# VESKAR_TEST_WINE (the end-to-end harness reads it).
#
# --meanwhile runs a shell command (the build of the programs under test, say) while the
# prefix boots, which takes a while; COMMAND runs only once both are done, and not at
# all when the shell command fails.
#
# --can-run prints nothing and succeeds when this machine runs that kind of Wine;
# otherwise it prints why not and fails. It runs Wine's programs rather than reading
# kernel settings: that is what the tests need.
set -eu
libexec=/usr/lib/wine

can_run() {
  case $1 in
    win32) loader=$libexec/wine server=$libexec/wineserver32 package=wine32:i386 bits=32 ;;
    win64) loader=$libexec/wine64 server=$libexec/wineserver64 package=wine64 bits=64 ;;
  esac
  for program in "$loader" "$server"; do
    if [ ! -e "$program" ]; then
      echo "$package is not installed"
      return 1
    fi
    if ! "$program" --version >/dev/null 2>&1; then
      echo "this kernel cannot run $bits-bit programs"
      return 1
    fi
  done
}

usage() {
  echo "usage: $0 win32|win64 [--meanwhile SHELL-COMMAND] COMMAND... | --can-run win32|win64" >&2
  exit 2
}

[ $# -ge 2 ] || usage
if [ "$1" = --can-run ]; then
  case $2 in win32|win64) ;; *) usage ;; esac
  can_run "$2"
  exit
fi
build=$1
shift
meanwhile=""
if [ "$1" = --meanwhile ]; then
  [ $# -ge 3 ] || usage
  meanwhile=$2
  shift 2
fi
case $build in
  win32)
    wine=wine
    wineserver=wineserver
    ;;
  win64)
    wine=$libexec/wine64
    wineserver=$libexec/wineserver64
    # Every Windows program the tests start, and those they start in turn, gets the
    # 64-bit loader and this server, never the launcher's choice.
    WINELOADER=$wine
    WINESERVER=$wineserver
    export WINELOADER WINESERVER
    ;;
  *) usage ;;
esac
if ! why=$(can_run "$build"); then
  echo "with-wine: cannot run $build Windows programs here: $why" >&2
  exit 1
fi

VESKAR_TEST_WINE=$wine
WINEPREFIX=$(mktemp -d /tmp/veskar-wine.XXXXXX)
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
export VESKAR_TEST_WINE WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
cleanup() {
  "$wineserver" -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT INT TERM
# Debian's Wine has no preloader to reserve its fixed addresses before the system maps
# anything, so with address randomisation about one start in two thousand fails ("failed
# to map the shared user data"), and a test fails with it. Without randomisation the
# layout is the same every time. Every Wine program below runs so, and so do those the
# command starts: the setting is inherited.
fixed=""
if setarch -R true 2>/dev/null; then
  fixed="setarch -R"
fi
if [ -n "$meanwhile" ]; then
  sh -c "$meanwhile" </dev/null &
  meanwhile_pid=$!
fi
$fixed "$wine" wineboot -i >/dev/null 2>&1 </dev/null || true
"$wineserver" -w 2>/dev/null || true
# One server and its helper processes for the whole run, started with no test's
# descriptors: a server started by a test's first wine call would inherit that test's
# stdout and hold it open for seconds after the test's program has ended.
"$wineserver" -p </dev/null >/dev/null 2>&1
$fixed "$wine" cmd /c exit </dev/null >/dev/null 2>&1 || true
if [ -n "$meanwhile" ]; then
  wait "$meanwhile_pid" || exit
fi
$fixed "$@"
