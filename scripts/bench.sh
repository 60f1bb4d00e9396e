#!/usr/bin/env bash
# Performance, measured: how the installer's cost grows on winsim, the
# virtual waiting time of every scenario, the heap of a whole install run,
# winsim's cost told apart from the installer's (callgrind), and the wall
# time of install.exe under Wine against a baseline program. Set-up
# included. Nothing here fails on a time.
#
#   scripts/bench.sh            everything (about half an hour on 2 cores)
#   MRV_BENCH_QUICK=1 scripts/bench.sh
#                               no callgrind of the 10,000-printer run, no Wine
#   MRV_BENCH_WINE_RUNS=N       runs per Wine figure (default 5)
#
# Results go to build/bench/results/ and are printed.
set -euo pipefail
cd "$(dirname "$0")/.."

QUICK=${MRV_BENCH_QUICK:-}
RUNS=${MRV_BENCH_WINE_RUNS:-5}
scripts/deps.sh native bench
[ -n "$QUICK" ] || scripts/deps.sh windows wine
jobs=$(nproc 2>/dev/null || echo 2)
OUT=build/bench/results
BIN=build/bench/bench

echo "== machine"
echo "date: $(date -u '+%Y-%m-%d %H:%M UTC')"
echo "nproc: $(nproc)"
echo "cpu: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"

echo "== build (optimised, with debug information for valgrind)"
cmake --preset bench -DCMAKE_CXX_FLAGS=-g >/dev/null
cmake --build build/bench -j"$jobs" --target mrv_bench mrv_profile mrv_waits >/dev/null
rm -rf "$OUT"
mkdir -p "$OUT"

echo "== winsim: growth (Google Benchmark; CPU time per run, ratio to the size ten times smaller)"
"$BIN/mrv_bench" --benchmark_out="$OUT/bench.json" --benchmark_out_format=json >"$OUT/bench.txt" 2>&1
python3 bench/bench_ratios.py "$OUT/bench.json" | tee "$OUT/ratios.txt"

echo "== winsim: virtual waiting time of every scenario"
"$BIN/mrv_waits" | tee "$OUT/waits.md" || echo "(a scenario waited otherwise than expected)"

echo "== heap of a whole install run (winsim's count of the installer's blocks)"
printf '%-9s %-9s %-16s %-10s\n' printers product heap_peak_bytes calls | tee "$OUT/heap.txt"
for n in 10 100 1000 10000; do
  "$BIN/mrv_profile" "$n" | awk -v n="$n" '
    /^printers/ {p = $4} /^heap_peak_bytes/ {h = $2} /^calls/ {c = $2}
    END {printf "%-9s %-9s %-16s %-10s\n", n, p, h, c}' | tee -a "$OUT/heap.txt"
done
echo "-- the whole native process at 10,000 printers (valgrind massif: winsim's model, journal and all)"
valgrind --tool=massif --massif-out-file="$OUT/massif.out" "$BIN/mrv_profile" 10000 >/dev/null 2>&1
awk -F= '/^mem_heap_B/ {h = $2} /^mem_heap_extra_B/ {if (h + $2 > m) {m = h + $2; b = h}}
  END {printf "peak heap: %d bytes requested, %d with the allocator'"'"'s overhead\n", b, m}' "$OUT/massif.out" |
  tee "$OUT/massif.txt"

echo "== callgrind: the installer's instructions and winsim's"
callgrind_run() { # NAME TOGGLE... -- COMMAND...
  local name=$1
  shift
  local toggles=()
  while [ "$1" != "--" ]; do
    toggles+=("--toggle-collect=$1")
    shift
  done
  shift
  valgrind --tool=callgrind "${toggles[@]}" --callgrind-out-file="$OUT/cg-$name.out" "$@" >/dev/null 2>&1
  python3 bench/callgrind_split.py "$OUT/cg-$name.out" 5 >"$OUT/cg-$name.txt"
  printf '%-28s installer %14s   winsim %16s\n' "$name" \
    "$(awk '/^instructions_installer/ {print $2}' "$OUT/cg-$name.txt")" \
    "$(awk '/^instructions_winsim/ {print $2}' "$OUT/cg-$name.txt")" | tee -a "$OUT/callgrind.txt"
}
sizes="10 100 1000"
[ -n "$QUICK" ] || sizes="$sizes 10000"
for n in $sizes; do callgrind_run "install-in-$n" 'DispatchCommand*' -- "$BIN/mrv_profile" "$n"; done
for n in 100 1000; do callgrind_run "AddLockedFile-$n" 'AddLockedFile*' -- "$BIN/mrv_bench" \
  --benchmark_filter="^BM_AddLockedFile/$n\$" --benchmark_min_time=0; done
for n in 1000 10000; do
  callgrind_run "DeleteFileTry-$n" 'DeleteFileTry*' -- "$BIN/mrv_bench" \
    --benchmark_filter="^BM_DeleteFileTry/$n\$" --benchmark_min_time=0
  callgrind_run "ScheduleDeleteAtRestart-$n" 'ScheduleDeleteAtRestart*' -- "$BIN/mrv_bench" \
    --benchmark_filter="^BM_ScheduleDeleteAtRestart/$n\$" --benchmark_min_time=0
  callgrind_run "PendingRenames-$n" 'ReadPendingRenames*' 'SweepPendingDeletes*' -- "$BIN/mrv_bench" \
    --benchmark_filter="^BM_PendingRenamesSweep/$n\$" --benchmark_min_time=0
done
echo "-- where winsim spends the 10,000-printer run (own instructions)"
last=$(ls "$OUT"/cg-install-in-*.txt | sort -t- -k4 -n | tail -1)
grep -E '^top_(winsim|library)' "$last" | head -6

if [ -n "$QUICK" ]; then
  echo "== Wine: skipped (MRV_BENCH_QUICK)"
  exit 0
fi

echo "== Wine: install.exe against mrvbase.exe ($RUNS runs, a fresh prefix each)"
cmake --preset windows >/dev/null
cmake --build build/windows -j"$jobs" >/dev/null
cmake -S bench/wine -B build/bench-wine -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build build/bench-wine -j"$jobs" >/dev/null
bash bench/wine/run.sh build/windows build/bench-wine "$OUT/wine" "$RUNS"

echo "== Wine: the run log's growth on the Windows heap"
(
  . tests/e2e/lib.sh
  find_wine || exit 0
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/mrv-loggrowth.XXXXXX)
  ART=$OUT
  new_prefix "$WINEPREFIX" >/dev/null 2>&1
  w 600 build/bench-wine/mrvloggrowth.exe | tr -d '\r' | tee "$OUT/loggrowth-wine.txt"
  end_prefix
  rm -rf "$WINEPREFIX"
)
