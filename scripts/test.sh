#!/bin/bash
# make test's runner: each build and its suites is a lane, and the lanes run side by
# side, since most of the suites wait on timers, clients and servers rather than on the
# processor. Each lane's log is printed whole when the lane ends, under a line that
# names it, and kept in build/test-logs. Ends with a table of the lanes and fails when
# any lane failed.
#
#   scripts/test.sh [LANE...]    native asan windows64 windows fuzz (default: all)
#
# windows is the 32-bit program: its suites run where this machine runs 32-bit programs,
# else it prints one "skipped:" line (VESKAR_SKIP_WIN32=1 asks for that anywhere). Once
# both Windows programs are built, their static check runs (the lane "pe").
set -u
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
logs=build/test-logs
all="native asan windows64 windows fuzz"

# Runs a step of a lane and says how long it took, so that the log shows where the
# time went.
step() {
  local name=$1 began=$SECONDS status=0
  shift
  "$@" || status=$?
  echo "[$name: $((SECONDS - began)) s, status $status]"
  return "$status"
}

# A build's own output goes to a log of its own, shown only when the build fails or
# warns.
build() { step "build $1" build_quietly "$1"; }
build_quietly() {
  local log=$logs/build-$1.log status=0
  mkdir -p "$logs"
  { cmake --preset "$1" && cmake --build --preset "$1" -j "$jobs"; } >"$log" 2>&1 || status=$?
  if [ "$status" != 0 ] || grep -q 'warning:' "$log"; then cat "$log"; fi
  return "$status"
}
suites() { step "tests $1" ctest --preset "$1"; }

# Steps that run under with-wine.sh, which calls back for them.
case ${1:-} in
  --build) build "$2"; exit ;;
  --suites) suites "$2"; exit ;;
esac

lane_native() { build native && suites native; }
lane_asan() { build asan && suites asan; }
lane_fuzz() { FUZZ_SECONDS=${FUZZ_SECONDS:-60} step fuzz fuzz/run.sh; }

# Wine boots its throwaway prefix while the program builds.
under_wine() { scripts/with-wine.sh "$1" --meanwhile "scripts/test.sh --build $2" scripts/test.sh --suites "$2"; }
lane_windows64() { under_wine win64 windows64; }
lane_windows() {
  local reason=""
  case ${VESKAR_SKIP_WIN32:-0} in
    0|"") reason=$(scripts/with-wine.sh --can-run win32) || true ;;
    *) reason="VESKAR_SKIP_WIN32 is set" ;;
  esac
  if [ -z "$reason" ]; then
    under_wine win32 windows
    return
  fi
  build windows || return  # for the static check all the same
  echo "skipped: 32-bit Windows tests ($reason)"
}

lane_pe() {
  local python=/usr/bin/python3
  echo "Static check of the Windows programs:"
  "$python" tests/pe/check_pe.py i386 build/windows/veskar.exe x86-64 build/windows64/veskar.exe &&
    "$python" tests/pe/check_pe_test.py build/windows/veskar.exe build/windows64/veskar.exe
}

lanes=${*:-$all}
for lane in $lanes; do
  case " $all " in *" $lane "*) ;; *) echo "usage: $0 [$all]" >&2; exit 2 ;; esac
done

rm -rf "$logs"
mkdir -p "$logs"
declare -A lane_of began took result
start() {
  began[$1]=$SECONDS
  "lane_$1" </dev/null >"$logs/$1.log" 2>&1 &
  lane_of[$!]=$1
}
for lane in $lanes; do start "$lane"; done
echo "make test: lanes $lanes started side by side; each log follows when its lane ends"

pe_due=false
case " $lanes " in *" windows64 "*) case " $lanes " in *" windows "*) pe_due=true ;; esac ;; esac
failed=""
while [ ${#lane_of[@]} -gt 0 ]; do
  status=0
  pid=""
  wait -n -p pid || status=$?
  [ -n "$pid" ] || break
  lane=${lane_of[$pid]}
  unset "lane_of[$pid]"
  took[$lane]=$((SECONDS - ${began[$lane]}))
  result[$lane]=passed
  if [ "$status" != 0 ]; then
    result[$lane]="FAILED (status $status)"
    failed="$failed $lane"
  fi
  echo
  echo "==================== $lane: ${result[$lane]} in ${took[$lane]} s ===================="
  cat "$logs/$lane.log"
  if $pe_due && [ -n "${result[windows]:-}" ] && [ -n "${result[windows64]:-}" ]; then
    pe_due=false
    lanes="$lanes pe"
    start pe
  fi
done

echo
echo "make test, lane by lane (logs in $logs):"
for lane in $lanes; do
  printf '  %-10s %-22s %4d s\n' "$lane" "${result[$lane]:-not run}" "${took[$lane]:-0}"
done
echo "  all        $SECONDS s"
if [ -n "$failed" ]; then
  echo "make test: FAILED:$failed" >&2
  exit 1
fi
