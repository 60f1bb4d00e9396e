#!/usr/bin/env bash
# End-to-end tests of the Windows build under Wine, on a virtual X display.
#
# Usage: tests/e2e/run.sh [BUILD_DIR]      (default: build/windows)
#
#   1. the resources of install.exe (check_resources.py);
#   2. the product's parts in a fresh Wine prefix (product.sh);
#   3. install.exe's commands in another fresh prefix, with the product laid
#      out as the installer expects it (installer.sh):
#        C:\Program Files\Morvalente\Drivers\  install.exe, gwrmon64.dll,
#                                              gwrdrv64.dll, gwrui64.dll, gwrhelp.chm
#        C:\Program Files\Morvalente\          mrvtray.exe
#        C:\mrvtest\                           mrvprobe.exe, mrvspool.exe, mrvdialog.exe,
#                                              build<N>\ (older builds of the DLLs)
# Steps 1 and 3 are skipped, with a message, while install.exe is not built.
# Records of every step (probe output, logs, Wine's messages, screenshots)
# go to BUILD_DIR/e2e/. MRV_E2E_KEEP=1 keeps the prefixes under /tmp.
# Ends with "N passed, N failed"; exit code 0 when nothing failed.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$HERE/lib.sh"
windows_build e2e "${1:-build/windows}" "build first: cmake --preset windows && cmake --build build/windows" ||
  exit 1

if [ -z "${MRV_E2E_INNER:-}" ]; then
  for f in "$STAGE/Drivers/gwrmon64.dll" "$STAGE/Drivers/gwrdrv64.dll" "$STAGE/Drivers/gwrui64.dll" \
    "$STAGE/Drivers/gwrhelp.chm" "$STAGE/mrvtray.exe" "$TOOLS/mrvprobe.exe" "$TOOLS/mrvspool.exe" \
    "$TOOLS/mrvdialog.exe"; do
    if [ ! -f "$f" ]; then
      echo "e2e: $f is missing; build the product's parts: cmake --build $BUILD --target product"
      exit 1
    fi
  done
fi
on_display MRV_E2E_INNER 1800 "end-to-end tests" "$0" "$BUILD"

find_wine
ART=$BUILD/e2e
rm -rf "$ART"
mkdir -p "$ART"
ROOT=$(mktemp -d /tmp/mrv-e2e.XXXXXX)
PREFIXES=()

cleanup() {
  for p in "${PREFIXES[@]}"; do
    WINEPREFIX=$p end_prefix
  done
  if [ -z "${MRV_E2E_KEEP:-}" ]; then rm -rf "$ROOT"; else echo "e2e: prefixes kept in $ROOT"; fi
}
trap cleanup EXIT

MRV_BUILD=$(sed -n 's/^MRV_PRODUCT_BUILD:STRING=//p' "$BUILD/CMakeCache.txt" 2>/dev/null)
MRV_BUILD=${MRV_BUILD:-2563}
OTHER_BUILDS=$(cd "$BUILD/product" && ls -d build[0-9]* 2>/dev/null | sed 's/^build//' | tr '\n' ' ')

# shellcheck source=product.sh
. "$HERE/product.sh"
# shellcheck source=installer.sh
. "$HERE/installer.sh"

echo "# Wine: $("$WINE" --version 2>/dev/null); records in $ART"

if [ -f "$INSTALL_EXE" ]; then
  echo "# resources of install.exe"
  if command -v python3 >/dev/null; then
    if python3 "$HERE/check_resources.py" "$INSTALL_EXE" >"$ART/resources.txt" 2>&1; then
      ok "install.exe: dialog 101 and manifest 1 as designed"
    else
      bad "install.exe: resources" "$(grep FAIL "$ART/resources.txt" | head -3 | tr '\n' ' ')"
    fi
  else
    echo "SKIP - resource check: python3 is not installed"
  fi
fi

PREFIXES+=("$ROOT/product")
if new_prefix "$ROOT/product"; then
  # shellcheck disable=SC2086 # one word a build
  lay_out $OTHER_BUILDS
  product_tests
  end_prefix
else
  bad "Wine prefix for the product's parts" "wineboot failed (see $ART/wineboot-product.txt)"
fi

if [ -f "$INSTALL_EXE" ]; then
  PREFIXES+=("$ROOT/installer")
  if new_prefix "$ROOT/installer"; then
    # shellcheck disable=SC2086 # one word a build
    lay_out $OTHER_BUILDS
    installer_tests
    end_prefix
  else
    bad "Wine prefix for the installer" "wineboot failed (see $ART/wineboot-installer.txt)"
  fi
else
  echo "SKIP - installer steps: install.exe is not built yet ($INSTALL_EXE)"
fi

[ -x "${MRV_NATIVE_BUILD:-$BUILD/../native}/install" ] && { bash "$HERE/differential.sh" "$BUILD" "${MRV_NATIVE_BUILD:-$BUILD/../native}" || bad "differential test (winsim against Wine)" "see the lines above"; }
echo "$PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ]
