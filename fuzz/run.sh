#!/bin/sh
# Builds the fuzz targets with clang, libFuzzer, ASan and UBSan in build/fuzz and runs
# them for FUZZ_SECONDS (default 60) in all: three quarters for the scanner, on a copy
# of tests/corpus, and a quarter for the command line; each gets at least 5 seconds.
# What they find is never written into the repository. Fails when either finds
# anything.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
command_seconds=$((seconds / 4))
[ "$command_seconds" -ge 5 ] || command_seconds=5
scan_seconds=$((seconds - command_seconds))
[ "$scan_seconds" -ge 5 ] || scan_seconds=5
build=build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DVESKAR_FUZZ=ON -DVESKAR_TESTS=OFF >/dev/null
cmake --build "$build" --target scan_fuzzer command_line_fuzzer -j "${JOBS:-2}" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/veskar-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/corpus" "$work/command_corpus" "$work/artifacts"
cp tests/corpus/* "$work/corpus/"
# Argument lists, separated by 0x00: a script path with a blank, quotes and backslashes.
printf 'ftp\000-s:C:\\Jobs\\Nightly upload\\up.txt\000host' >"$work/command_corpus/script"
printf '\000a"b\000C:\\my dir\\\000\000\\\\"\000\t' >"$work/command_corpus/quotes"

# Runs one target for the given seconds; fails when it finds anything.
run_target() {
  target=$1 time=$2 corpus=$3
  shift 3
  status=0
  "$build/fuzz/$target" "$corpus" -max_total_time="$time" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/artifacts/$target-" "$@" \
    >"$work/$target.log" 2>&1 || status=$?
  echo "$target:"
  grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb|INFO: seed corpus)' \
    "$work/$target.log" || true
  if [ "$status" != 0 ] || [ -n "$(ls "$work/artifacts" | grep "^$target-" || true)" ]; then
    tail -n 60 "$work/$target.log"
    return 1
  fi
}

found=""
# -max_len: room for lines longer than a piece, and many of them.
run_target scan_fuzzer "$scan_seconds" "$work/corpus" -max_len=20000 || found="$found scan_fuzzer"
# -max_len: room for argument lists well past the command line's bound.
run_target command_line_fuzzer "$command_seconds" "$work/command_corpus" -max_len=4096 ||
  found="$found command_line_fuzzer"
if [ -n "$found" ]; then
  mkdir -p "$build/findings"
  cp "$work/artifacts/"* "$build/findings/" 2>/dev/null || true
  echo "fuzz: libFuzzer found a fault in:$found (inputs kept in $build/findings)" >&2
  exit 1
fi
echo "fuzz: nothing found in ${scan_seconds}s of the scanner and ${command_seconds}s of the command line"
