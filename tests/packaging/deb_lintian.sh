#!/bin/sh
# The .deb that `make package` makes, checked against Debian policy: lintian must report
# no error and no warning. Packs into a directory of its own, so that the build's own
# packages are left alone.
#
#   deb_lintian.sh BUILD_DIR
set -eu
build=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/veskar-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
if ! cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log"
  exit 1
fi
set -- "$work"/*.deb
[ $# = 1 ] && [ -f "$1" ] || { echo "cpack made no single .deb: $*"; exit 1; }
# --fail-on: warnings fail as errors do. Info tags are shown but pass.
status=0
lintian --fail-on error,warning "$1" >"$work/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$work/lintian.log" || true
echo "lintian: status $status for $(basename "$1")"
exit "$status"
