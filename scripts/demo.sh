#!/usr/bin/env bash
# The main job: build the native install program and follow the product's
# life on a fresh simulated machine: install, the setup program's three
# questions, a user who configures the printer, a reinstall (a repair) and
# the uninstall. Each step shows its exit code, the run's log (Shift is held,
# so every run shows it) and what the step changed on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh native
echo "== building the native install program and winsim (build/native)"
build_log=$(mktemp /tmp/morvalente-build-XXXXXX.log)
if ! { cmake --preset native && cmake --build --preset native -j"$(nproc 2>/dev/null || echo 2)" --target mrv_install winsim-tool; } >"$build_log" 2>&1; then
  cat "$build_log"
  echo "demo: the build failed (log above)" >&2
  exit 1
fi
rm -f "$build_log"

bin=$PWD/build/native
machine=$(mktemp -d /tmp/morvalente-machine-XXXXXX)
export WINSIM_MACHINE=$machine
# Without a terminal to close it on, the log dialog writes its title and text
# to standard error and closes as its "Close" button does.
export WINSIM_DIALOG=stderr

winsim() { "$bin/winsim" "$@"; }

# What an exit code means for the command that gave it.
meaning() {
  case "$1:$2" in
    in:1 | un:2) echo "done, no error" ;;
    in:100 | un:100) echo "the run logged an error" ;;
    in:101 | un:101) echo "done; a restart is needed to finish" ;;
    onChkDrv:103) echo "yes: the product's printer uses a driver newer than build 2450" ;;
    onChkDrv:3) echo "no: no product printer with a driver newer than build 2450" ;;
    onInit:200) echo "operations are pending on the product's files until a restart" ;;
    onInit:102) echo "nothing pending; the default printer is not the product's (or there is none)" ;;
    onInit:3) echo "nothing pending; the default printer is the product's" ;;
    def.set:4) echo "carried out" ;;
    *) echo "unexpected" ;;
  esac
}

step=0
before=$machine/before.json
changing_calls='^(PostMessageW|RegSetValueEx|RegDeleteValue|RegDeleteKey|DeletePrinter\(|DeletePrinterDriver|DeleteMonitor|AddMonitor|AddPrinterDriver|AddPrinterW|SetPrinterW\([0-9]+ level 2|SetPrinterData|SpoolSetDefaultPrinterW|CopyFileW|DeleteFileW|MoveFileExW|ControlService|StartServiceW|CreateProcessW)'

# Runs `install WORD` on the machine, then shows its exit code and what changed.
run_install() {
  local word=$1
  step=$((step + 1))
  echo
  echo "== $step. install $word"
  winsim show "$machine" >"$before"
  local code=0
  "$bin/install" "$word" </dev/null 2>&1 || code=$?
  echo "-- exit code $code: $(meaning "$word" "$code")"
  echo "-- what changed:"
  winsim diff "$before" "$machine" >"$machine/diff.txt"
  sed 's/^/   /' "$machine/diff.txt"
  # A run that puts back all it removed ends with the machine as it was: its
  # journal still shows what it did on the way.
  if [ "$word" = in ] || [ "$word" = un ]; then
    if grep -q '^no changes' "$machine/diff.txt"; then
      echo "-- what the run did on the way (the calls of its journal that change the machine):"
      winsim show "$machine" journal | grep -E "$changing_calls" | grep -v '= error\|= fault' | cut -c1-110 | sed 's/^/   /'
    fi
  fi
}

echo
echo "== a fresh simulated machine in $machine"
winsim new "$machine"
# With Shift held each install or uninstall run shows its log at its end.
echo '{"shift": true}' | winsim apply "$machine" -
echo "   (Shift is held, so each run's log is shown)"

run_install in
run_install onChkDrv
run_install onInit
run_install def.set

step=$((step + 1))
echo
echo "== $step. a user configures the printer \"Morvalente\": settings name, comment, location, default printer"
winsim show "$machine" >"$before"
if winsim show "$machine" printers --json | grep -q '"name": "Morvalente"'; then
  winsim apply "$machine" - <<'EOF'
{"changePrinters": [{"name": "Morvalente", "subKey": "mrv-0001", "comment": "Scans to PDF",
                     "location": "Office 2", "default": true}],
 "registry": [{"key": "HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\mrv-0001",
               "name": "Resolution", "dword": 600}]}
EOF
  echo "-- what changed:"
  winsim diff "$before" "$machine" | sed 's/^/   /'
  echo "-- the printers now:"
  winsim show "$machine" printers | sed 's/^/   /'
else
  echo "-- there is no printer \"Morvalente\" to configure: the install did not create it"
fi

echo
echo "   The reinstall repairs the product: it removes everything and installs it again,"
echo "   re-creating the printer with its settings name, comment, location and default status."
run_install in
echo "-- the printers now:"
winsim show "$machine" printers | sed 's/^/   /'

run_install un
if winsim show "$machine" pending | grep -q '^  '; then
  step=$((step + 1))
  echo
  echo "== $step. restart the machine: the pending file operations are carried out"
  winsim reboot "$machine" | sed 's/^/   /'
fi

echo
echo "The machine stays in $machine: look at it with"
echo "  $bin/winsim show $machine [printers|monitors|drivers|files|registry KEY|services|tray|pending|journal]"
