#!/usr/bin/env bash
# Wall time of install.exe under Wine against mrvbase.exe, the calls an
# install (or uninstall) needs done back to back with no waits and no log.
#
# Usage: bench/wine/run.sh BUILD_WINDOWS BUILD_BENCH_WINE OUT_DIR [RUNS]
#
# Each run takes three fresh prefixes, copies of one prefix made by wineboot
# for this script, each with the product laid out as tests/e2e/lib.sh and
# run.sh lay it out (mrvbase.exe beside install.exe):
#   A: install.exe in, then install.exe un        (timed both)
#   B: mrvbase.exe in                             (timed)
#   C: install.exe in (not timed), mrvbase.exe un (timed)
# Every prefix first runs "cmd /c exit" so that Wine's own services are up
# before anything is timed. mrvlaunch.exe times each program from its start
# to the moment its log dialog appears (the run's work is done then; it
# closes the dialog at once and notes how long the program took from there
# to its exit), or to its exit when there is none. The fixed waits install.exe made are read from Wine's relay
# trace of KERNEL32.Sleep: the calls from install.exe's own code on its
# thread. Every Wine call is bounded by a time-out; WINEDEBUG keeps every
# channel off but relay.
#
# Writes OUT_DIR/runs.tsv (run, prefix, command, program, ms, sleep_ms,
# dialog, after_close_ms, exit, and mrvbase's "calls N failed M ...") and
# prints the medians and ratios.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
ROOT_DIR=$(cd "$HERE/../.." && pwd)
BUILD=$(cd "${1:?BUILD_WINDOWS}" && pwd)
TOOLS=$(cd "${2:?BUILD_BENCH_WINE}" && pwd)
OUT=$(mkdir -p "${3:?OUT_DIR}" && cd "$3" && pwd)
RUNS=${4:-5}

# shellcheck source=../../tests/e2e/lib.sh
. "$ROOT_DIR/tests/e2e/lib.sh"
if ! find_wine; then
  echo "SKIP - Wine ratios: Wine is not installed (scripts/deps.sh wine)"
  exit 0
fi
if [ -z "${DISPLAY:-}" ]; then
  if ! command -v xvfb-run >/dev/null; then
    echo "SKIP - Wine ratios: no X display and no xvfb-run (scripts/deps.sh wine)"
    exit 0
  fi
  exec timeout -k 10 3600 xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

STAGE=$BUILD/stage/Morvalente
for f in "$BUILD/install.exe" "$STAGE/Drivers/gwrmon64.dll" "$STAGE/mrvtray.exe" "$TOOLS/mrvlaunch.exe" \
  "$TOOLS/mrvbase.exe"; do
  [ -f "$f" ] || {
    echo "wine bench: $f is missing"
    exit 1
  }
done

ART=$OUT
WORK=$(mktemp -d /tmp/mrv-wine-bench.XXXXXX)
cleanup() {
  for p in "$WORK"/*/; do
    [ -d "$p/drive_c" ] && WINEPREFIX=${p%/} end_prefix
  done
  rm -rf "$WORK"
}
trap cleanup EXIT

PRODUCT_WIN='C:\Program Files\Morvalente'
RELAY='KERNEL32.Sleep;KERNELBASE.Sleep'

echo "== Wine prefix (wineboot), once; each run copies it"
new_prefix "$WORK/template" || {
  echo "wine bench: wineboot failed (see $OUT/wineboot-template.txt)"
  exit 1
}
w 60 reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /t REG_SZ /d "$RELAY" /f >/dev/null 2>&1
end_prefix

# fresh NAME: a copy of the template with the product laid out; current prefix.
fresh() {
  export WINEPREFIX=$WORK/$1
  cp -a "$WORK/template" "$WINEPREFIX"
  local product
  product=$(host_path "$PRODUCT_WIN")
  mkdir -p "$product/Drivers"
  cp "$STAGE/Drivers/"* "$BUILD/install.exe" "$TOOLS/mrvbase.exe" "$product/Drivers/"
  cp "$STAGE/mrvtray.exe" "$product/"
  cp "$TOOLS/mrvlaunch.exe" "$WINEPREFIX/drive_c/"
  w 120 cmd /c exit >/dev/null 2>&1 </dev/null
}

# timed RUN PREFIX COMMAND PROGRAM: times PROGRAM COMMAND in the current
# prefix and appends a row to runs.tsv (PROGRAM "-" is not recorded).
timed() {
  local run=$1 prefix=$2 command=$3 program=$4 exe trace result line calls
  exe="$PRODUCT_WIN\\Drivers\\${program#-}.exe"
  trace=$OUT/trace-$run-$prefix-$command-${program#-}.txt
  result=$OUT/result-$run-$prefix-$command-${program#-}.txt
  # Into files, not a pipe: the tray program it starts keeps them open.
  W_DEBUG=-all,+relay w 330 'C:\mrvlaunch.exe' "$exe" "$command" >"$result" 2>"$trace"
  line=$(tr -d '\r' <"$result" | grep '^ms ' | tail -1)
  calls=$(tr -d '\r' <"$result" | grep '^calls ' | tail -1)
  [ "${program:0:1}" = "-" ] && return 0
  local ms dialog code thread sleeps after
  ms=$(awk '{print $2}' <<<"$line")
  after=$(awk '{print $10}' <<<"$line")
  dialog=$(awk '{print $4}' <<<"$line")
  code=$(awk '{print $6}' <<<"$line")
  thread=$(awk '{print $8}' <<<"$line")
  # Sleeps of the program's own code (image base 0x140000000) on its thread.
  [ -n "$thread" ] || thread=none
  sleeps=$(grep -E "^$thread:Call KERNEL32\\.Sleep\\([0-9a-f]+\\) ret=14" "$trace" |
    sed -E 's/.*Sleep\(([0-9a-f]+)\).*/\1/' | while read -r h; do echo $((16#$h)); done |
    awk '{s += $1} END {print s + 0}')
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$run" "$prefix" "$command" "$program" "${ms:-NA}" \
    "$sleeps" "${dialog:-NA}" "${after:-NA}" "${code:-NA}" "${calls:--}" >>"$OUT/runs.tsv"
  echo "   run $run $program $command: ${ms:-?} ms (sleeps $sleeps ms, dialog ${dialog:-?}, exit ${code:-?}) ${calls}"
}

printf 'run\tprefix\tcommand\tprogram\tms\tsleep_ms\tdialog\tafter_close_ms\texit\tcalls\n' >"$OUT/runs.tsv"
for run in $(seq 1 "$RUNS"); do
  echo "== run $run of $RUNS"
  fresh "A$run"
  timed "$run" A in install
  timed "$run" A un install
  end_prefix
  rm -rf "$WINEPREFIX"
  fresh "B$run"
  timed "$run" B in mrvbase
  end_prefix
  rm -rf "$WINEPREFIX"
  fresh "C$run"
  timed "$run" C in -install
  timed "$run" C un mrvbase
  end_prefix
  rm -rf "$WINEPREFIX"
done

python3 "$HERE/wine_summary.py" "$OUT/runs.tsv" | tee "$OUT/summary.txt"
