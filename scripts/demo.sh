#!/usr/bin/env bash
# The main job: build the native install program and run an install on a
# fresh simulated machine, showing what it did.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh native
cmake --preset native >/dev/null
cmake --build --preset native -j"$(nproc 2>/dev/null || echo 2)" >/dev/null

bin=build/native
machine=$(mktemp -d /tmp/morvalente-machine-XXXXXX)
export WINSIM_MACHINE=$machine

echo "== a fresh simulated machine in $machine"
$bin/winsim new "$machine"

echo
# With Shift held the installer shows its run log at the end of the run; without
# a terminal winsim's dialog writes it to standard error.
echo '{"shift": true}' | $bin/winsim apply "$machine" -
$bin/winsim show "$machine" > "$machine/before.json"
echo "== install in"
set +e
$bin/install in </dev/null
code=$?
set -e
echo "exit code: $code"

echo
echo "== what the install changed"
$bin/winsim diff "$machine/before.json" "$machine"
