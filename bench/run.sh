#!/bin/sh
# make bench: builds the Release benchmarks (preset bench) and veskar.exe as shipped,
# measures every performance figure, prints the table and writes it to BENCHMARKS.md.
# Figures are medians; each ratio compares runs interleaved in this one run.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-2}

cmake --preset bench >/dev/null
cmake --build --preset bench -j "$jobs" >/dev/null
# The Windows program with the windows preset's flags, in a build directory of its own.
cmake -S . -B build/bench-windows --toolchain cmake/i686-w64-mingw32.cmake \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DVESKAR_TESTS=OFF >/dev/null
cmake --build build/bench-windows -j "$jobs" --target veskar >/dev/null

# Other work on the machine shows in every figure; the table says how busy it was.
load=$(cut -d ' ' -f 1-3 /proc/loadavg)

out=build/bench/results
mkdir -p "$out"
bin=build/bench/bench

echo "scanner (Google Benchmark, one core)..." >&2
"$bin/scan_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 --benchmark_format=csv >"$out/scan.csv" 2>/dev/null
"$bin/scan_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
  --benchmark_min_time=0.2 2>/dev/null | grep -E '^(Benchmark|-|.*_median)' >"$out/scan.txt"

echo "whole process (relay 11 + 2 x 7 x 1 GiB, 300 start-ups, 5 s idle, 100 prompts)..." >&2
"$bin/process_bench" build/bench/veskar "$bin/bench_client" "$bin/plain_relay" "$bin/echo_relay" \
  >"$out/process.txt" || true
echo "VESKAR_ON_FAILURE=stop (200 pwd lines against pyftpdlib, each Debian client)..." >&2
/usr/bin/python3 bench/stop_lines.py build/bench/veskar >>"$out/process.txt" || true

# Median GB/s (1e9 bytes) of one benchmark and stream, from the CSV.
rate() {
  awk -F, -v name="\"$1/$2_median\"" '$1 == name { printf "%.2f", $6 / 1e9 }' "$out/scan.csv"
}
verdict() { awk -v v="$1" -v t="$2" 'BEGIN { print (v >= t) ? "PASS" : "FAIL" }'; }
lowest() { printf '%s\n' "$@" | sort -g | head -n 1; }

lf=$(rate shipped_pieces 0); crlf=$(rate shipped_pieces 1); listing=$(rate shipped_pieces 2)
hostile=$(rate shipped_pieces 3)
site_lf=$(rate site_pieces 0); site_crlf=$(rate site_pieces 1); site_listing=$(rate site_pieces 2)
site_hostile=$(rate site_pieces 3)
site_realistic=$(lowest "$site_lf" "$site_crlf" "$site_listing")
realistic=$(lowest "$lf" "$crlf" "$listing")
naive_lf=$(rate naive_strstr 0); naive_hostile=$(rate naive_strstr 3)
memmem_lf=$(rate naive_memmem 0); memmem_hostile=$(rate naive_memmem 3)
floor_lf=$(rate floor_memchr 0); floor_listing=$(rate floor_memchr 2)
cut_lf=$(rate shipped_reads 0); cut_listing=$(rate shipped_reads 2)

exe=build/bench-windows/veskar.exe
exe_bytes=$(stat -c %s "$exe")
exe_dlls=$(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name/ { printf "%s%s", sep, $3; sep = " " }')
exe_verdict=FAIL
[ "$exe_bytes" -le 65536 ] && exe_verdict=PASS

{
  echo "| Figure | Target | Measured | Verdict |"
  echo "|---|---|---|---|"
  echo "| Scan, realistic: recorded session LF / CR LF / long listing, 4096-byte pieces | >= 2 GB/s | $lf / $crlf / $listing GB/s (naive, one strstr per entry: $naive_lf, memmem: $memmem_lf) | $(verdict "$realistic" 2) |"
  echo "| Scan, adversarial: near misses of every entry, codes after every break | >= 0.5 GB/s | $hostile GB/s (naive, one strstr per entry: $naive_hostile, memmem: $memmem_hostile) | $(verdict "$hostile" 0.5) |"
  echo "| Scan as above with VESKAR_SIGNS of 32 texts and the German locale's texts, realistic (session LF / CR LF / listing) | >= 2 GB/s | $site_lf / $site_crlf / $site_listing GB/s, adversarial $site_hostile GB/s | $(verdict "$site_realistic" 2) |"
  echo "| Scan with line cutting, as the relay runs it, session / listing (no target) | - | $cut_lf / $cut_listing GB/s | info |"
  echo "| Scan floor: one memchr pass over every byte, session / listing (no target) | - | $floor_lf / $floor_listing GB/s | info |"
  awk -F'|' '{ printf "| %s | %s | %s | %s |\n", $1, $2, $3, $4 }' "$out/process.txt"
  echo "| veskar.exe, static and stripped (imports: $exe_dlls) | <= 64 KiB | $exe_bytes bytes | $exe_verdict |"
} >"$out/table.md"

cat "$out/table.md"

cpu=$(awk -F': ' '/^Model name/ { print $2; exit }' /proc/cpuinfo 2>/dev/null || true)
[ -n "$cpu" ] || cpu=$(lscpu | awk -F': *' '/Model name/ { print $2; exit }')
{
  echo "# Benchmarks"
  echo
  echo "Written by \`make bench\` (bench/run.sh) on $(date -u '+%Y-%m-%d %H:%M UTC'),"
  echo "$(nproc) cores ($cpu), $(uname -sr). Medians; every ratio compares runs made"
  echo "interleaved in the same run. Load average when the run began: $load."
  echo "Benchmarks are not tests: nothing here is checked in CI."
  echo
  cat "$out/table.md"
  echo
  echo "## Rerun"
  echo
  echo '```sh'
  echo 'make bench                  # all of the below, then this file'
  echo '# the scanner alone (Google Benchmark):'
  echo 'cmake --preset bench && cmake --build --preset bench'
  echo 'build/bench/bench/scan_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true'
  echo '# the whole-process figures:'
  echo 'build/bench/bench/process_bench build/bench/veskar build/bench/bench/bench_client build/bench/bench/plain_relay build/bench/bench/echo_relay'
  echo '# the size of veskar.exe as shipped:'
  echo 'cmake -S . -B build/bench-windows --toolchain cmake/i686-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=MinSizeRel -DVESKAR_TESTS=OFF'
  echo 'cmake --build build/bench-windows --target veskar && stat -c %s build/bench-windows/veskar.exe'
  echo '```'
  echo
  echo "## How each figure is taken"
  echo
  echo "- Scan: the search and its reports on consecutive 4096-byte pieces of bench/transcripts/tnftp-session.txt"
  echo "  (a recorded session of a command-line client against a local server: listings, hash"
  echo "  marks, texts fetched to stdout, error replies), the same with CR LF line ends, the"
  echo "  listing the bench client floods with, and an adversarial stream (every line: a break,"
  echo "  a near-miss reply code, three table entries each cut short or changed near its end)."
  echo "  Reports go to /dev/null. The naive rows search every entry (the table and the POSIX"
  echo "  client messages) with strstr (or"
  echo "  memmem), then try every position for a reply code, and only count what they find."
  echo "- Relay: bench_client, as \`ftp\` in a PATH directory of the harness's own, writes 1 GiB"
  echo "  of listing lines in 64 KiB writes; veskar relays it to /dev/null, against the same"
  echo "  client piped into plain_relay (read 4096, write, again) to /dev/null, and into"
  echo "  echo_relay (veskar's own read loop, pump_pipes, with an echo and no scan); 11 rounds."
  echo "  Each round runs the three one after another; the ratio is the median of the rounds'"
  echo "  ratios, since this machine's speed moves between runs far more than between"
  echo "  neighbours. The two rows after it do the same (7 rounds, no echo_relay) with the"
  echo "  client writing 8 KiB and 128 KiB a write, as inetutils-ftp and tnftp write a"
  echo "  download to stdout (seen with strace)."
  echo "- Start-up: veskar with a client that exits at once against \`timeout 10\` with the same"
  echo "  client, 300 pairs after 5 warm-up pairs, from spawn to reaped."
  echo "- Idle: three veskar runs at once, each client sleeping 5 s; the CPU time of veskar"
  echo "  alone (its /proc schedstat once it has ended, before it is reaped: wait4's usage"
  echo "  would add the client, which veskar reaps), and its own voluntary context switches:"
  echo "  each wait that ends is one, so they count its wake-ups (a few belong to its start"
  echo "  and end). The relay's CPU rows are taken the same way. The second row does the same with"
  echo "  VESKAR_IDLE_TIMEOUT=3600: the watchdog wakes once a second while the client is"
  echo "  quiet and reads the client's /proc/PID/io. \`process_bench ... --idle\` measures"
  echo "  these two rows and the next alone."
  echo "- Idle with VESKAR_ON_FAILURE=stop: five runs one after another, each client reading one"
  echo "  line of two and then sleeping 2 s, as on one long command; veskar looks whether it waits"
  echo "  for the next line at growing intervals, up to half a second. Taken as the idle rows are."
  echo "- Cost of a line with VESKAR_ON_FAILURE=stop (bench/stop_lines.py): \`user\`, 200 \`pwd\`"
  echo "  lines and \`quit\` on stdin through veskar and tnftp, then inetutils-ftp, against"
  echo "  pyftpdlib on 127.0.0.1; three runs with the setting and three without, interleaved, after"
  echo "  one warm-up; the difference of the medians' wall times, over 200."
  echo "- Latency: the client waits for a byte on stdin, stamps the monotonic clock on"
  echo "  descriptor 3, writes \"ftp> \"; the harness stamps its arrival on veskar's stdout."
  echo "- Peak RSS: VmHWM of veskar from /proc while it runs (wait4's ru_maxrss would count the"
  echo "  harness's own memory, which a vfork-style spawn shares until exec)."
  echo
  echo "## Scanner, in full"
  echo
  echo '```'
  cat "$out/scan.txt"
  echo '```'
} >BENCHMARKS.md
[ -f bench/notes.md ] && cat bench/notes.md >>BENCHMARKS.md
echo "wrote $root/BENCHMARKS.md" >&2
