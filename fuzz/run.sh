#!/bin/sh
# Builds the scanner's fuzz target with clang, libFuzzer, ASan and UBSan in build/fuzz
# and runs it for FUZZ_SECONDS (default 60) on a copy of tests/corpus, so that what it
# finds is never written into the repository. Fails when libFuzzer finds anything.
set -eu
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=build/fuzz
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g -O1"

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
  -DVESKAR_FUZZ=ON -DVESKAR_TESTS=OFF >/dev/null
cmake --build "$build" --target scan_fuzzer -j "${JOBS:-2}" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/veskar-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
mkdir "$work/corpus" "$work/artifacts"
cp tests/corpus/* "$work/corpus/"

status=0
# -max_len: room for lines longer than a piece, and many of them.
"$build/fuzz/scan_fuzzer" "$work/corpus" -max_total_time="$seconds" -max_len=20000 \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" >"$work/log" 2>&1 || status=$?
grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb|INFO: seed corpus)' "$work/log" || true
if [ "$status" != 0 ] || [ -n "$(ls "$work/artifacts")" ]; then
  tail -n 60 "$work/log"
  mkdir -p "$build/findings"
  cp "$work/artifacts/"* "$build/findings/" 2>/dev/null || true
  echo "fuzz: libFuzzer found a fault (inputs kept in $build/findings)" >&2
  exit 1
fi
echo "fuzz: nothing found in ${seconds}s"
