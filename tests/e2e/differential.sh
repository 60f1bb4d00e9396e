#!/usr/bin/env bash
# Differential test: the same install, repair and uninstall on winsim (the
# native build) and under Wine (the Windows build) must give the same exit
# codes and the same log lines. Directory texts are compared without regard
# to case. Every difference is named; a known one must be in KNOWN below
# with the Wine limit that causes it (its entry in WINE_NOTES.md). The test
# fails on a difference that is not listed, and on a listed one that no
# longer occurs.
#
# Usage: tests/e2e/differential.sh [WINDOWS_BUILD] [NATIVE_BUILD]
#        (default: build/windows build/native)
#
# Steps (tests/e2e/diff/wine_steps.sh, winsim_steps.sh):
#   in-1  "install.exe in" on a fresh machine;
#   in-2  "install.exe in" again, the printer "Morvalente" carrying the
#         settings name "e2e-settings" (under Wine after the printer got the
#         data type Windows would give it, as installer.sh does);
#   un    "install.exe un".
# Records go to WINDOWS_BUILD/e2e/diff/{wine,winsim}/; MRV_DIFF_COMPARE_ONLY=1
# compares the records of the last run again without running anything. Ends with
# "N passed, N failed"; exit code 0 when nothing failed.
set -u

HERE=$(cd "$(dirname "$0")" && pwd)
DIFF_HERE=$HERE/diff
# shellcheck source=lib.sh
. "$HERE/lib.sh"
windows_build differential "${1:-build/windows}" || exit 1
build_dir NATIVE differential "${2:-build/native}" || exit 1

# Known differences, one a line: STEP|WHAT|TEXT|CAUSE
#   WHAT is "rc" (TEXT: "winsim=N wine=N"), "winsim" (a log line only winsim
#   writes) or "wine" (a log line only Wine's run writes); TEXT is an
#   extended regular expression for the whole (normalised) line; CAUSE names
#   the entry of WINE_NOTES.md.
P="WINE_NOTES.md: AddPrinterW creates the printer, then fails with 1801"
D="WINE_NOTES.md: DeletePrinterDriverExW with DPD_DELETE_ALL_FILES (4) fails with 87"
KNOWN=(
  # First install: Wine refuses the new printer (error 15); the run ends
  # with the error title and exit code 100 instead of 1.
  "in-1|rc|winsim=1 wine=100|$P"
  "in-1|winsim|title +Morvalente build [0-9]+- Install log\\.|$P (the error title follows from it)"
  "in-1|wine|title +Morvalente build [0-9]+- Install error log!|$P (the error title follows from it)"
  "in-1|winsim| {6}OK :\\)|$P (AddPrinter's success)"
  "in-1|wine| {6}Error\\(15\\): Can\`t add printer 'Morvalente' - \\(Invalid printer name\\.\\)|$P"
  # Repair: Wine cannot delete the driver with its files (restart, then
  # error 14), nor add the remembered printer nor the fallback one (error 15
  # twice).
  "in-2|rc|winsim=1 wine=100|$D; $P"
  "in-2|winsim|title +Morvalente build [0-9]+- Install log\\.|$D; $P (the error title follows from them)"
  "in-2|wine|title +Morvalente build [0-9]+- Install error log!|$D; $P (the error title follows from them)"
  "in-2|winsim| {8}OK :\\)|$D (the driver's deletion succeeds)"
  "in-2|wine| {8}Can't delete driver\\. Trying to restart spooler|$D"
  "in-2|wine| {8}>Restart Spooler|$D"
  "in-2|wine| {8}Error\\(14\\): Can\`t remove the printer-driver 'Morvalente printer' - \\(Invalid parameter\\.\\)|$D"
  "in-2|winsim| {6}OK :\\)|$P (AddPrinter's success)"
  "in-2|wine| {6}Error\\(15\\): Can\`t add printer 'Morvalente' - \\(Invalid printer name\\.\\)|$P (the remembered printer, then the fallback)"
  "in-2|wine| {4}>AddPrinter\\(Morvalente\\)|$P (the fallback try)"
  "in-2|wine| {6}Let's check our port monitors|$P (the fallback try)"
  "in-2|wine| {6}Port monitor is found|$P (the fallback try)"
  # Uninstall: the driver stays (error 14); exit code 100 instead of 2.
  "un|rc|winsim=2 wine=100|$D"
  "un|winsim|title +Morvalente build [0-9]+- Install log\\.|$D (the error title follows from it)"
  "un|wine|title +Morvalente build [0-9]+- Install error log!|$D (the error title follows from it)"
  "un|winsim| {4}OK :\\)|$D (the driver's deletion succeeds)"
  "un|wine| {4}Can't delete driver\\. Trying to restart spooler|$D"
  "un|wine| {4}>Restart Spooler|$D"
  "un|wine| {4}Error\\(14\\): Can\`t remove the printer-driver 'Morvalente printer' - \\(Invalid parameter\\.\\)|$D"
)

if [ -z "${MRV_DIFF_INNER:-}" ]; then
  for f in "$INSTALL_EXE" "$STAGE/Drivers/gwrmon64.dll" "$STAGE/mrvtray.exe" "$TOOLS/mrvdialog.exe" \
    "$TOOLS/mrvspool.exe" "$NATIVE/install" "$NATIVE/winsim"; do
    if [ ! -f "$f" ]; then
      echo "differential: $f is missing; build both sides first"
      exit 1
    fi
  done
fi
on_display MRV_DIFF_INNER 900 "differential test" "$0" "$BUILD" "$NATIVE"

find_wine
ART=$BUILD/e2e/diff
if [ -z "${MRV_DIFF_COMPARE_ONLY:-}" ]; then
  rm -rf "$ART"
  mkdir -p "$ART"
fi
ROOT=$(mktemp -d /tmp/mrv-diff.XXXXXX)
DIFF_PREFIX=$ROOT/prefix
DIFF_MACHINE=$ROOT/machine
cleanup() {
  WINEPREFIX=$DIFF_PREFIX end_prefix
  rm -rf "$ROOT"
}
trap cleanup EXIT

# shellcheck source=installer.sh
. "$HERE/installer.sh"
# shellcheck source=diff/wine_steps.sh
. "$DIFF_HERE/wine_steps.sh"
# shellcheck source=diff/winsim_steps.sh
. "$DIFF_HERE/winsim_steps.sh"

# normalise FILE: the log as compared: no CR, tabs expanded as winsim's
# dialog shows them, directory texts (a drive letter, a colon, a backslash
# and what follows up to a blank or a quote) in lower case.
normalise() {
  tr -d '\r' <"$1" | expand | sed 's/[[:space:]]*$//' |
    perl -pe 's/([A-Za-z]:\\[^\s'"'"'"]*)/lc($1)/ge'
}

echo "# differential: Wine $("$WINE" --version 2>/dev/null); records in $ART"
if [ -z "${MRV_DIFF_COMPARE_ONLY:-}" ]; then
  wine_steps "$ART/wine" || bad "Wine prefix" "wineboot failed (see $ART/wineboot-prefix.txt)"
  winsim_steps "$ART/winsim" || bad "winsim machine" "winsim new/apply failed"
fi

# The differences, one a line: STEP|WHAT|TEXT
: >"$ART/differences.txt"
for step in in-1 in-2 un; do
  normalise "$ART/winsim/$step.log" >"$ART/winsim/$step.norm"
  normalise "$ART/wine/$step.log" >"$ART/wine/$step.norm"
  a=$(cat "$ART/winsim/$step.rc" 2>/dev/null)
  b=$(cat "$ART/wine/$step.rc" 2>/dev/null)
  lines_a=$(wc -l <"$ART/winsim/$step.norm")
  lines_b=$(wc -l <"$ART/wine/$step.norm")
  if [ "$lines_a" -gt 1 ] && [ "$lines_b" -gt 1 ]; then
    ok "$step: logs of both runs read ($lines_a lines on winsim, $lines_b under Wine)"
  else
    bad "$step: logs of both runs read" "$lines_a lines on winsim, $lines_b under Wine"
  fi
  [ "$a" == "$b" ] || echo "$step|rc|winsim=$a wine=$b" >>"$ART/differences.txt"
  diff --old-line-format="$step|winsim|%L" --new-line-format="$step|wine|%L" --unchanged-line-format='' \
    "$ART/winsim/$step.norm" "$ART/wine/$step.norm" >>"$ART/differences.txt"
done

declare -A USED
while IFS= read -r d; do
  [ -n "$d" ] || continue
  step=${d%%|*}
  rest=${d#*|}
  what=${rest%%|*}
  text=${rest#*|}
  cause=
  for i in "${!KNOWN[@]}"; do
    IFS='|' read -r k_step k_what k_text k_cause <<<"${KNOWN[$i]}"
    if [ "$k_step" == "$step" ] && [ "$k_what" == "$what" ] && grep -qE -- "^$k_text\$" <<<"$text"; then
      cause=$k_cause
      USED[$i]=1
      break
    fi
  done
  if [ -n "$cause" ]; then
    ok "$step: known difference ($what) '$text': $cause"
  else
    bad "$step: difference ($what) not listed" "'$text'"
  fi
done <"$ART/differences.txt"

for i in "${!KNOWN[@]}"; do
  if [ -z "${USED[$i]:-}" ]; then
    bad "listed difference no longer occurs" "${KNOWN[$i]}"
  fi
done

echo "$PASS passed, $FAIL failed"
[ "$FAIL" -eq 0 ]
