#!/bin/sh
# Runs each benchmark binary once on tiny inputs, so that they keep building and
# working. It times nothing that anyone judges.
#   smoke.sh SCAN_BENCH PROCESS_BENCH VESKAR BENCH_CLIENT PLAIN_RELAY ECHO_RELAY
set -eu
"$1" --benchmark_min_time=0.0001 >/dev/null
"$2" "$3" "$4" "$5" "$6" --smoke >/dev/null
/usr/bin/python3 "$(dirname "$0")/stop_lines.py" "$3" --smoke >/dev/null
