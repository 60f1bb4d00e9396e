#!/usr/bin/env bash
# From the command line: a new machine, an install, a repair and an
# uninstall with the native install program, each followed by `winsim show`
# proving what the machine holds.
# Usage: cli_install_uninstall.sh WINSIM INSTALL
set -u

WINSIM=$1
INSTALL=$2
M=$(mktemp -d "${TMPDIR:-/tmp}/mrv-cli-XXXXXX")
trap 'rm -rf "$M"' EXIT
export WINSIM_DIALOG=stderr
failures=0

fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# expect_exit NAME WANT COMMAND...: runs COMMAND and checks its exit code.
expect_exit() {
  local name=$1 want=$2
  shift 2
  "$@" >"$M.out" 2>&1
  local rc=$?
  if [ "$rc" -ne "$want" ]; then
    fail "$name: exit $rc, expected $want"
    cat "$M.out"
  else
    echo "ok: $name exits with $want"
  fi
}

# has NAME WHAT TEXT / lacks NAME WHAT TEXT: `winsim show M WHAT --json` holds
# TEXT, or not.
has() {
  if "$WINSIM" show "$M" "$2" --json | grep -qF -- "$3"; then echo "ok: $1"; else fail "$1: no $3 in $2"; fi
}
lacks() {
  if "$WINSIM" show "$M" "$2" --json | grep -qF -- "$3"; then fail "$1: $3 still in $2"; else echo "ok: $1"; fi
}

install() {
  WINSIM_MACHINE=$M "$INSTALL" "$@"
}

expect_exit "winsim new" 0 "$WINSIM" new "$M"
lacks "a new machine has no printer" printers '"name"'
lacks "a new machine has no monitor" monitors '"Morvalente:"'

for round in install repair; do
  expect_exit "$round: install in" 1 install in
  has "$round: printer Morvalente" printers '"name": "Morvalente"'
  has "$round: on the product's driver" printers '"driver": "Morvalente printer"'
  has "$round: on the product's port" printers '"port": "Morvalente:"'
  if [ "$("$WINSIM" show "$M" printers --json | grep -c '"name"')" -ne 1 ]; then fail "$round: not exactly one printer"; fi
  has "$round: monitor registered" monitors '"name": "Morvalente:"'
  has "$round: driver registered" drivers '"name": "Morvalente printer"'
  has "$round: driver file in the version directory" files 'spool\\drivers\\x64\\3\\gwrdrv64.dll'
  has "$round: monitor file in the system directory" files 'System32\\gwrmon64.dll'
  has "$round: tray program registered" registry '"name": "MorvalenteTray"'
  has "$round: tray program running" tray '"running": true'
  has "$round: tray program's file in place" files 'Morvalente\\mrvtray.exe'
done

expect_exit "install un" 2 install un
lacks "uninstall: no printer" printers '"name"'
lacks "uninstall: no monitor" monitors '"name"'
lacks "uninstall: no driver" drivers '"name"'
lacks "uninstall: no driver file" files 'spool\\drivers\\x64\\3\\'
lacks "uninstall: no monitor file" files 'System32\\gwrmon64.dll'
lacks "uninstall: no tray registration" registry '"name": "MorvalenteTray"'
has "uninstall: tray program stopped" tray '"running": false'
has "uninstall: the installer's own files stay" files 'Drivers\\gwrmon64.dll'

rm -f "$M.out"
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
