#!/usr/bin/env bash
# The whole test run: native suite, the same suite under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets' short run, the native install
# under valgrind, the Windows build and the end-to-end suite under Wine.
# Set-up included.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh native windows
jobs=$(nproc 2>/dev/null || echo 2)

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native -j"$jobs"
ctest --preset native -j"$jobs"

echo "== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --preset asan -j"$jobs"

echo "== fuzz targets, short run"
fuzz/run.sh

echo "== one install and uninstall under valgrind"
tests/sweep/valgrind.sh

echo "== Windows build (MinGW-w64)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$jobs"
ls -l build/windows/install.exe
python3 tests/e2e/check_resources.py build/windows/install.exe

if [ -x tests/e2e/run.sh ]; then
  echo "== end-to-end under Wine"
  scripts/deps.sh wine
  tests/e2e/run.sh build/windows
fi
