#!/bin/sh
# make test's Windows part, on any Debian machine:
#  - the static check of both programs, which needs no Wine;
#  - the 64-bit program's suites under Wine's 64-bit loader, always;
#  - the 32-bit program's suites where this machine runs 32-bit programs, else one
#    "skipped:" line. VESKAR_SKIP_WIN32=1 asks for the skip, to try that path anywhere.
set -eu
cd "$(dirname "$0")/.."
python=/usr/bin/python3

echo "Static check of the Windows programs:"
"$python" tests/pe/check_pe.py i386 build/windows/veskar.exe x86-64 build/windows64/veskar.exe
"$python" tests/pe/check_pe_test.py build/windows/veskar.exe build/windows64/veskar.exe

echo "64-bit Windows tests, under Wine's 64-bit loader:"
scripts/with-wine.sh win64 ctest --preset windows64

reason=""
case ${VESKAR_SKIP_WIN32:-0} in
  0|"") reason=$(scripts/with-wine.sh --can-run win32) || true ;;
  *) reason="VESKAR_SKIP_WIN32 is set" ;;
esac
if [ -n "$reason" ]; then
  echo "skipped: 32-bit Windows tests ($reason)"
else
  echo "32-bit Windows tests, under Wine:"
  scripts/with-wine.sh win32 ctest --preset windows
fi
