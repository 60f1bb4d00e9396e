#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang 14, AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each one over its seed corpus.
#
# Usage: fuzz/run.sh [TARGET...]
#   FUZZ_RUNS=N      executions per target (default 20000: the short run)
#   FUZZ_SECONDS=S   run each target for S seconds instead (the long run)
#   FUZZ_JOBS=J      build jobs (default 2)
# New inputs go to build/fuzz/corpus/TARGET; the seeds in fuzz/corpus stay
# as they are. A crash leaves its input in build/fuzz/findings/TARGET and
# makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(pending_renames command_line settings_name version_resource)
runs=${FUZZ_RUNS:-20000}

scripts/deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"${FUZZ_JOBS:-2}" >/dev/null

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
status=0
for t in "${targets[@]}"; do
  work=build/fuzz/corpus/$t
  findings=build/fuzz/findings/$t
  mkdir -p "$work" "$findings"
  limit=(-runs="$runs")
  [ -z "${FUZZ_SECONDS:-}" ] || limit=(-max_total_time="$FUZZ_SECONDS")
  echo "== fuzz $t (${FUZZ_SECONDS:+$FUZZ_SECONDS s}${FUZZ_SECONDS:-$runs runs})"
  if build/fuzz/fuzz/fuzz_"$t" "${limit[@]}" -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$work" "fuzz/corpus/$t" >"build/fuzz/$t.log" 2>&1; then
    grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "build/fuzz/$t.log" | tr '\n' ' '
    echo
  else
    status=1
    echo "fuzz $t: FAILED, see build/fuzz/$t.log and $findings/"
    grep -E 'ERROR|broken|runtime error|SUMMARY' "build/fuzz/$t.log" | head -5 || true
  fi
done
exit $status
