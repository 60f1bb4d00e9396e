#!/usr/bin/env bash
# The native install under valgrind --leak-check=full: one install and one
# uninstall on a fresh machine. Every run must exit as it should, with no
# memory error, no byte lost (definitely, indirectly or possibly) and no
# block or handle that winsim saw left behind.
#
# Usage: tests/sweep/valgrind.sh
set -euo pipefail
cd "$(dirname "$0")/../.."

scripts/deps.sh native valgrind
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc 2>/dev/null || echo 2)" --target mrv_install winsim-tool >/dev/null

machine=$(mktemp -d)
reports=build/native/valgrind
mkdir -p "$reports"
trap 'rm -rf "$machine"' EXIT
build/native/winsim new "$machine" >/dev/null

status=0
for step in "in 1" "un 2"; do
  set -- $step
  word=$1 want=$2
  report=$reports/$word.txt
  set +e
  WINSIM_MACHINE=$machine valgrind --leak-check=full --show-leak-kinds=definite,indirect,possible \
    --errors-for-leak-kinds=definite,indirect,possible --track-origins=yes --error-exitcode=99 \
    --log-file="$report" build/native/install "$word" 2>"$reports/$word.stderr"
  rc=$?
  set -e
  echo "== install $word: exit $rc"
  grep -E 'total heap usage|All heap blocks|definitely lost|indirectly lost|possibly lost|still reachable|ERROR SUMMARY' "$report" |
    sed 's/^==[0-9]*== */   /'
  if [ "$rc" -ne "$want" ]; then
    echo "   expected exit $want (99: valgrind found errors; see $report)"
    status=1
  fi
  if grep -q 'left behind by the run' "$reports/$word.stderr"; then
    grep 'left behind by the run' "$reports/$word.stderr"
    status=1
  fi
done
exit $status
