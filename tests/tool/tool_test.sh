#!/usr/bin/env bash
# The winsim tool driven as a tester drives it: each row runs commands on
# temporary machines and checks the exit code and what was printed.
#
# Usage: tool_test.sh WINSIM
#
# A row is: row NAME EXPECTED-EXIT-CODE COMMAND CHECK...
#   COMMAND runs in bash with $M (the main machine), $T (the temporary
#   directory) and $DOCS (this directory) set, and `winsim` standing for the
#   tool. Rows run in order; later rows see what earlier rows did to $M.
#   CHECK is one of
#     +TEXT   a line of standard output contains TEXT
#     -TEXT   no line of standard output contains TEXT
#     =TEXT   a line of standard output is exactly TEXT
#     ~REGEX  a line of standard output matches the extended regular expression
#     !TEXT   standard error contains TEXT
set -u

WINSIM=$(realpath "$1")
DOCS=$(cd "$(dirname "$0")" && pwd)
T=$(mktemp -d)
trap 'rm -rf "$T"' EXIT
M=$T/m
export WINSIM M T DOCS
export WINSIM_MACHINE=$T/no-machine-here
failures=0
rows=0

row() {
  local name=$1 want=$2 cmd=$3
  shift 3
  rows=$((rows + 1))
  bash -c "winsim() { \"\$WINSIM\" \"\$@\"; }; $cmd" >"$T/out" 2>"$T/err"
  local got=$?
  local bad=()
  [ "$got" = "$want" ] || bad+=("exit code $got, expected $want")
  local c
  for c in "$@"; do
    case $c in
      +*) grep -qF -- "${c:1}" "$T/out" || bad+=("standard output lacks: ${c:1}") ;;
      -*) ! grep -qF -- "${c:1}" "$T/out" || bad+=("standard output has: ${c:1}") ;;
      =*) grep -qxF -- "${c:1}" "$T/out" || bad+=("no line of standard output is: ${c:1}") ;;
      \~*) grep -qE -- "${c:1}" "$T/out" || bad+=("no line of standard output matches: ${c:1}") ;;
      !*) grep -qF -- "${c:1}" "$T/err" || bad+=("standard error lacks: ${c:1}") ;;
      *) bad+=("bad check: $c") ;;
    esac
  done
  if [ ${#bad[@]} -gt 0 ]; then
    failures=$((failures + 1))
    echo "FAIL [$name]"
    printf '    %s\n' "${bad[@]}"
    echo "  --- standard output"
    sed 's/^/    /' "$T/out"
    echo "  --- standard error"
    sed 's/^/    /' "$T/err"
  fi
}

doc() { cat >"$T/$1.json"; }

# ---------------------------------------------------------------------------
# Change documents used below
# ---------------------------------------------------------------------------
doc printers <<'EOF'
{"addPrinters": [
  {"name": "Office", "port": "LPT1:", "driver": "Morvalente printer", "subKey": "mrv-office",
   "comment": "Front desk", "location": "Room 12", "default": true},
  {"name": "Plain", "port": "FILE:", "driver": "Other driver",
   "data": {"": [{"name": "SubKey", "type": 4, "hex": "01000000"}],
            "DsUser": [{"name": "SubKey", "ansi": "from-dsuser"}]}}]}
EOF
doc configure <<'EOF'
{"changePrinters": [{"name": "plain", "comment": "Back office", "subKey": "mrv-back", "default": true},
                    {"name": "Office", "subKey": null, "location": ""}]}
EOF
doc registry <<'EOF'
{"registry": [
  {"key": "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", "name": "PendingFileRenameOperations",
   "strings": ["\\??\\C:\\Windows\\System32\\old.dll", "", "\\??\\C:\\Temp\\new.dll", "!\\??\\C:\\Temp\\dest.dll"]},
  {"key": "HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\mrv-office", "name": "deleted", "dword": 1},
  {"key": "HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\mrv-office", "name": "Title", "string": "Front"},
  {"key": "HKLM\\SOFTWARE\\Test", "name": "Raw", "type": "REG_BINARY", "hex": "DEADbeef"}]}
EOF
doc malformed <<'EOF'
{"registry": [{"key": "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
               "name": "PendingFileRenameOperations", "type": "REG_MULTI_SZ", "hex": "43003a00"}]}
EOF
doc files <<'EOF'
{"files": [
  {"path": "C:\\Windows\\System32\\old.dll", "text": "old"},
  {"path": "C:\\Temp\\new.dll", "hex": "4d5a00"},
  {"path": "c:\\temp\\dest.dll", "text": "the destination"},
  {"path": "C:\\Windows\\System32\\gwrmon64.dll", "component": 2500, "hold": {"share": 0, "releaseAfterMs": 5000}},
  {"path": "C:\\Program Files\\Morvalente\\Drivers\\gwrhelp.chm", "delete": true}]}
EOF
doc faults <<'EOF'
{"faults": [{"call": "DeleteFileW", "error": 5, "nth": 2, "times": 3},
            {"call": "CopyFileW", "error": 112, "always": true},
            {"call": "OpenPrinterW", "error": 1801}]}
EOF
doc service <<'EOF'
{"spoolerService": {"state": "stopped", "startDelayMs": 3000, "stopDelayMs": 1500, "neverStarts": true,
                    "ignoresStop": true, "stopError": 1061, "unopenable": true},
 "scmUnopenable": true}
EOF
doc companions <<'EOF'
{"tray": {"running": true, "behaviour": "delay", "exitDelayMs": 4000},
 "helpWindows": [{}, {"title": "Other Help", "closesOnRequest": false}]}
EOF
doc system <<'EOF'
{"shift": true, "diskFreeBytes": 1000, "os": "6.1", "windows": [4242], "advanceMs": 6000}
EOF

# ---------------------------------------------------------------------------
# new
# ---------------------------------------------------------------------------
row "new: a default machine" 0 'winsim new $M' \
  +"Windows 10.0 build 19045, spooler running, no printers" \
  +"component files in C:\\Program Files\\Morvalente\\Drivers (gwrmon64.dll build 2563, gwrdrv64.dll build 2563, gwrui64.dll build 2563, gwrhelp.chm)" \
  +"tray program C:\\Program Files\\Morvalente\\mrvtray.exe"
row "new: its files with their builds" 0 'winsim show $M files' \
  '~^C:\\Program Files\\Morvalente\\Drivers\\gwrmon64\.dll +[0-9]+ bytes, build 2563$' \
  '~^C:\\Program Files\\Morvalente\\Drivers\\gwrdrv64\.dll +[0-9]+ bytes, build 2563$' \
  '~^C:\\Program Files\\Morvalente\\Drivers\\gwrui64\.dll +[0-9]+ bytes, build 2563$' \
  '~^C:\\Program Files\\Morvalente\\Drivers\\gwrhelp\.chm +30 bytes$' \
  '~^C:\\Program Files\\Morvalente\\mrvtray\.exe +[0-9]+ bytes, build 2563$' "=held open by other processes: none"
row "new: options" 0 'winsim new $T/n2 --os 6.1 --monitor-build 2400 --driver-build -1 --no-tray --installer-dir "C:\\Setup\\Drivers\\"' \
  +"Windows 6.1 build 7601" +"component files in C:\\Setup\\Drivers (gwrmon64.dll build 2400, gwrdrv64.dll no version" \
  -"tray program"
row "new: the options' machine" 0 'winsim show $T/n2 files && winsim show $T/n2 system' \
  '~^C:\\Setup\\Drivers\\gwrmon64\.dll +[0-9]+ bytes, build 2400$' \
  '~^C:\\Setup\\Drivers\\gwrdrv64\.dll +[0-9]+ bytes, no version resource$' \
  '~^C:\\Setup\\Drivers\\gwrui64\.dll +[0-9]+ bytes, build 2563$' -"mrvtray.exe" +"Windows    6.1 build 7601" \
  +"program    C:\\Setup\\Drivers\\install.exe"
row "new: an OS build given" 0 'winsim new $T/n3 --os 6.3.9999 --no-components && winsim show $T/n3 files' \
  +"Windows 6.3 build 9999" +"no component files" -"gwrmon64.dll" +"mrvtray.exe"
row "new: a build out of range" 1 'winsim new $T/n4 --ui-build 65536' !"--ui-build wants a build 0 to 65535, or -1"
row "new: a build that is no number" 1 'winsim new $T/n4 --monitor-build x' !"--monitor-build wants a build"
row "new: an OS version that is none" 1 'winsim new $T/n4 --os ten' !"--os wants MAJOR.MINOR"
row "new: an installer directory off drive C:" 1 'winsim new $T/n4 --installer-dir "D:\\x"' !"on drive C:"
row "new: an unknown option" 2 'winsim new $T/n4 --colour' !"unknown option --colour" !"usage:"
row "new: a machine made again is fresh" 0 'winsim new $T/n3 && winsim show $T/n3 files' +"gwrmon64.dll"

# ---------------------------------------------------------------------------
# show of a fresh machine
# ---------------------------------------------------------------------------
row "show: the whole machine reads back" 0 'winsim show $M >$T/fresh.json && winsim diff $T/fresh.json $M' \
  "=no changes (virtual clock +0 ms)"
row "show: a saved output shows like the machine" 0 'winsim show $T/fresh.json system' +"Windows    10.0 build 19045"
row "show: no printers" 0 'winsim show $M printers' "=0 printers; default printer: none"
row "show: services" 0 'winsim show $M services' "=spooler  running" "=service manager: can be opened"
row "show: tray" 0 'winsim show $M tray' "=tray program: not running" +"start-up   not registered" \
  "=help viewer windows: none"
row "show: no faults" 0 'winsim show $M faults' "=no faults"
row "show: nothing pending" 0 'winsim show $M pending' +"PendingFileRenameOperations): none"
row "show: an unknown part" 1 'winsim show $M printer' !"unknown part printer"
row "show: no machine" 1 'winsim show $T/nowhere printers' !"cannot read $T/nowhere"
row "show: a file that is no machine" 1 'echo "{}" >$T/empty.json && winsim show $T/empty.json' \
  !"neither a machine directory nor a saved"
row "show: no journal before a run" 1 'winsim show $M journal' !"no run journal"
row "show: the journal of the last run" 0 'printf "GetTickCount() = 5\n" >$M/last-run.journal && winsim show $M journal' \
  "=GetTickCount() = 5"

# ---------------------------------------------------------------------------
# apply, one part at a time, and show of that part
# ---------------------------------------------------------------------------
row "apply: printers" 0 'winsim apply $M $T/printers.json && winsim show $M printers' \
  "=2 printers; default printer: \"Office\"" "=* Office  (default printer)" "=  Plain" \
  "=    port       LPT1:" "=    comment    \"Front desk\"" "=    location   \"Room 12\"" \
  "=    settings   SubKey \"mrv-office\" (plain and DsUser)" \
  "=    settings   SubKey REG_DWORD hex 01 00 00 00 (plain), \"from-dsuser\" (DsUser)" \
  "=    attributes 0x00000040 (local)"
row "apply: printers as JSON" 0 'winsim show $M printers --json' +'"defaultPrinter": "Office"' +'"name": "Plain"'
row "apply: a printer that exists" 1 'winsim apply $M $T/printers.json' !'printer "Office" exists'
row "apply: a user configures printers" 0 'winsim apply $M $T/configure.json && winsim show $M printers' \
  "=2 printers; default printer: \"Plain\"" "=* Plain  (default printer)" "=    comment    \"Back office\"" \
  "=    settings   SubKey \"mrv-back\" (plain and DsUser)" "=    settings   SubKey none" "=    location   (none)"
row "apply: configuring a printer that is not there" 1 'echo "{\"changePrinters\": [{\"name\": \"Gone\"}]}" | winsim apply $M -' \
  !'changePrinters: no printer "Gone"'
row "apply: monitors and drivers as after an earlier install" 0 \
  'winsim new $T/e && winsim apply $T/e $DOCS/earlier-install.json && winsim show $T/e monitors && winsim show $T/e drivers && winsim show $T/e tray' \
  "=  Morvalente:  (Windows x64)" +"dll        gwrmon64.dll  [C:\\Windows\\System32\\gwrmon64.dll:" \
  "=    loaded     yes, by the running spooler (the file is in use)" "=    ports      Morvalente:" \
  "=  Morvalente printer  (Windows x64, version 3)" \
  '~^    driver     C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrdrv64\.dll  \[[0-9]+ bytes, build 2500\]$' \
  '~^    dll        gwrmon64\.dll  \[C:\\Windows\\System32\\gwrmon64\.dll: [0-9]+ bytes, build 2500\]$' \
  +"help       C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrhelp.chm  [30 bytes]" \
  "=tray program: running" +"start-up   HKLM\\...\\Run MorvalenteTray = REG_SZ \"C:\\Program Files\\Morvalente\\mrvtray.exe\""
row "apply: a monitor without its DLL is not loaded" 0 \
  'echo "{\"addMonitors\": [{\"name\": \"Lost:\", \"dll\": \"lost.dll\", \"ports\": [\"L1:\"]}]}" | winsim apply $M - && winsim show $M monitors' \
  "=  Lost:  (Windows x64)" "=    loaded     no" +"lost.dll  [C:\\Windows\\System32\\lost.dll: missing]"
row "apply: registry values" 0 'winsim apply $M $T/registry.json && winsim show $M registry "hkey_current_user\\software\\garrowe software kft\\"' \
  "=HKCU\\Software\\Garrowe Software KFT" "=HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\mrv-office" \
  "=    deleted = REG_DWORD 0x00000001 (1)" "=    Title = REG_SZ \"Front\"" -"HKLM"
row "apply: a key stops at its own name" 0 'winsim show $M registry HKLM\\SOFTWARE\\Test' "=    Raw = REG_BINARY hex de ad be ef"
row "apply: a registry key that is not there" 1 'winsim show $M registry HKLM\\SOFTWARE\\Tes' !"no registry key"
row "apply: pending file operations" 0 'winsim show $M pending' \
  +"PendingFileRenameOperations): 2" "=  delete \\??\\C:\\Windows\\System32\\old.dll" \
  "=  rename \\??\\C:\\Temp\\new.dll -> !\\??\\C:\\Temp\\dest.dll"
row "apply: a value deleted, a key deleted with its subkeys" 0 \
  'echo "{\"registry\": [{\"key\": \"HKLM\\\\SOFTWARE\\\\Test\", \"name\": \"Raw\", \"delete\": true}, {\"key\": \"HKCU\\\\Software\\\\Garrowe Software KFT\", \"deleteKey\": true}]}" | winsim apply $M - && winsim show $M registry' \
  "=HKLM\\SOFTWARE\\Test" -"Raw =" -"Garrowe"
row "apply: files" 0 'winsim apply $M $T/files.json && winsim show $M files' \
  +"C:\\Windows\\System32\\old.dll" +"C:\\Temp\\new.dll" +"C:\\Temp\\dest.dll" -"gwrhelp.chm" \
  '~^C:\\Windows\\System32\\gwrmon64\.dll +[0-9]+ bytes, build 2500$' \
  "=  C:\\Windows\\System32\\gwrmon64.dll by another process, no sharing, let go at clock 3605000 ms"
row "apply: file sizes" 0 'winsim show $M files C:\\Temp' "=C:\\Temp\\dest.dll  15 bytes" "=C:\\Temp\\new.dll   3 bytes, no version resource" -"System32"
row "apply: a file off drive C:" 1 'echo "{\"files\": [{\"path\": \"D:\\\\x\", \"text\": \"\"}]}" | winsim apply $M -' !"not on drive C:"
row "apply: a file with two contents" 1 'echo "{\"files\": [{\"path\": \"C:\\\\x\", \"text\": \"\", \"hex\": \"00\"}]}" | winsim apply $M -' \
  !'one of "text", "hex", "component", "delete"'
row "apply: hex that is not" 1 'echo "{\"files\": [{\"path\": \"C:\\\\x\", \"hex\": \"0g\"}]}" | winsim apply $M -' !"pairs of hex digits"
row "apply: faults" 0 'winsim apply $M $T/faults.json && winsim show $M faults' \
  "=DeleteFileW: calls 2 to 4 fail with error 5 ERROR_ACCESS_DENIED" \
  "=CopyFileW: every call fails with error 112 ERROR_DISK_FULL" \
  "=OpenPrinterW: call 1 fails with error 1801 ERROR_INVALID_PRINTER_NAME"
row "apply: faults as JSON" 0 'winsim show $M faults --json' +'"call": "DeleteFileW"' +'"nth": 2' +'"times": 3'
row "apply: faults replaced" 0 \
  'echo "{\"faults\": [{\"call\": \"OpenPrinterW\", \"error\": 5, \"nth\": 3, \"always\": true}], \"clearFaults\": true}" | winsim apply $M - && winsim show $M faults' \
  "=OpenPrinterW: every call from call 3 on fails with error 5 ERROR_ACCESS_DENIED" -"DeleteFileW" -"CopyFileW"
row "apply: faults cleared" 0 'echo "{\"clearFaults\": true}" | winsim apply $M - && winsim show $M faults' "=no faults"
row "apply: the spooler service and the service manager" 0 'winsim apply $M $T/service.json && winsim show $M services' \
  "=spooler  stopped" "=    start      takes 3000 ms, never gets there (stays start pending)" \
  "=    stop       takes 1500 ms, ignored (it keeps running), refused with error 1061 ERROR_SERVICE_CANNOT_ACCEPT_CTRL" \
  "=    open       refused (OpenServiceW: error 5 ERROR_ACCESS_DENIED)" \
  "=service manager: cannot be opened (OpenSCManagerW: error 5 ERROR_ACCESS_DENIED)"
row "apply: a stopped spooler has no monitor loaded" 0 'winsim show $M monitors' "=    loaded     no" -"loaded     yes"
row "apply: a service state that is none" 1 'echo "{\"spoolerService\": {\"state\": \"paused\"}}" | winsim apply $M -' \
  !'spoolerService: state is "running", "stopped"'
row "apply: the tray program and help viewer windows" 0 'winsim apply $M $T/companions.json && winsim show $M tray' \
  "=tray program: running" +"path       C:\\Program Files\\Morvalente\\mrvtray.exe  [" \
  "=    behaviour  delay (closes its window when asked, exits 4000 ms later)" "=    mutex      held" \
  "=help viewer windows: 2" "=  \"Morvalente Help\" (class HH Parent)" \
  "=  \"Other Help\" (class HH Parent), does not close when asked"
row "apply: the running tray program holds its file" 0 'winsim show $M files' \
  "=  C:\\Program Files\\Morvalente\\mrvtray.exe by mrvtray.exe (running), sharing read, never let go"
row "apply: a tray behaviour that is none" 1 'echo "{\"tray\": {\"behaviour\": \"sleep\"}}" | winsim apply $M -' \
  !'tray: behaviour is "exit", "delay", "ignore" or "nowindow"'
row "apply: system settings and the clock" 0 'winsim apply $M $T/system.json && winsim show $M system' \
  "=    Windows    6.1 build 7601" "=    Shift key  held" "=    disk       1000 bytes free" \
  "=    clock      3606000 ms" "=    windows    4242"
row "apply: an OS version with its build and platform" 0 \
  'winsim new $T/os && echo "{\"os\": {\"major\": 5, \"minor\": 1, \"build\": 2600, \"platform\": 1}}" | winsim apply $T/os - && winsim show $T/os system' \
  "=    Windows    5.1 build 2600 platform 1"
row "apply: a holder lets go when its time has come" 0 'winsim show $M files' -"by another process"

# ---------------------------------------------------------------------------
# apply refuses a document whole
# ---------------------------------------------------------------------------
row "refused: the state before" 0 'winsim show $M >$T/before-refusal.json'
row "refused: a misspelt key" 1 'echo "{\"shift\": false, \"shfit\": true}" | winsim apply $M -' !'change: unknown key "shfit"'
row "refused: a misspelt key in a record" 1 'echo "{\"faults\": [{\"call\": \"X\", \"nht\": 2}]}" | winsim apply $M -' \
  !'faults: unknown key "nht"'
row "refused: a part applied before the error stays out" 1 \
  'echo "{\"shift\": false, \"removePrinters\": [\"Office\", \"Nobody\"]}" | winsim apply $M -' !'no printer "Nobody"'
row "refused: nothing changed" 0 'winsim diff $T/before-refusal.json $M' "=no changes (virtual clock +0 ms)"
row "refused: no JSON" 1 'echo "shift" | winsim apply $M -' !"not a JSON object"
row "refused: no such file" 1 'winsim apply $M $T/none.json' !"cannot read"

# ---------------------------------------------------------------------------
# diff on a small pair of states
# ---------------------------------------------------------------------------
doc pair-a <<'EOF'
{"addPrinters": [{"name": "P", "port": "LPT1:", "driver": "D", "comment": "old", "subKey": "s1"},
                 {"name": "Gone", "port": "FILE:", "driver": "D"}],
 "addDrivers": [{"name": "D", "driverPath": "C:\\d.dll"}],
 "files": [{"path": "C:\\a.txt", "text": "12345"}, {"path": "C:\\b.txt", "text": "b"},
           {"path": "C:\\x.dll", "component": 2500}],
 "registry": [{"key": "HKLM\\SOFTWARE\\K", "name": "V", "string": "one"}]}
EOF
doc pair-b <<'EOF'
{"changePrinters": [{"name": "P", "comment": "new", "subKey": "s2", "default": true}],
 "removePrinters": ["Gone"],
 "addPrinters": [{"name": "Q", "port": "COM1:", "driver": "D"}],
 "addMonitors": [{"name": "M:", "dll": "m.dll", "ports": ["M1:"]}],
 "files": [{"path": "C:\\a.txt", "text": "1234567"}, {"path": "C:\\b.txt", "delete": true},
           {"path": "C:\\x.dll", "component": 2600},
           {"path": "C:\\c.txt", "text": "c"}],
 "registry": [{"key": "HKLM\\SOFTWARE\\K", "name": "V", "string": "two"},
              {"key": "HKLM\\SOFTWARE\\K", "name": "W", "dword": 7},
              {"key": "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager", "name": "PendingFileRenameOperations",
               "strings": ["\\??\\C:\\a.txt", ""]}],
 "spoolerService": {"state": "stopped"},
 "tray": {"running": true},
 "faults": [{"call": "CopyFileW", "error": 32}],
 "shift": true,
 "advanceMs": 250}
EOF
row "diff: a small pair of states" 0 \
  'winsim new $T/d && winsim apply $T/d $T/pair-a.json && winsim show $T/d >$T/a.json && winsim apply $T/d $T/pair-b.json && winsim diff $T/a.json $T/d' \
  "=printers" \
  "=  - \"Gone\"  port FILE:, driver \"D\", settings name none" \
  "=  ~ \"P\" comment: \"old\" -> \"new\"" \
  "=  ~ \"P\" SubKey: \"s1\" -> \"s2\"" \
  "=  ~ \"P\" DsUser\\SubKey: \"s1\" -> \"s2\"" \
  "=  + \"Q\"  port COM1:, driver \"D\", settings name none" \
  "=  ~ default printer: (none) -> \"P\"" \
  "=port monitors" \
  "=  + \"M:\" (Windows x64)  m.dll, ports M1:, not loaded" \
  "=files" \
  "=  ~ C:\\a.txt  5 -> 7 bytes" \
  "=  - C:\\b.txt  (1 bytes)" \
  "=  + C:\\c.txt  1 bytes" \
  "=  ~ C:\\x.dll  build 2500 -> build 2600" \
  "=  + held open: C:\\Program Files\\Morvalente\\mrvtray.exe by mrvtray.exe (running), sharing read, never let go" \
  "=registry" \
  "=  ~ HKLM\\SOFTWARE\\K  V: REG_SZ \"one\" -> REG_SZ \"two\"" \
  "=  + HKLM\\SOFTWARE\\K  W = REG_DWORD 0x00000007 (7)" \
  "=pending file operations" \
  "=  + delete \\??\\C:\\a.txt" \
  "=services" \
  "=  ~ \"spooler\" state: \"running\" -> \"stopped\"" \
  "=tray program and help viewer" \
  "=  ~ tray program running: no -> yes" \
  "=faults" \
  "=  + CopyFileW: call 1 fails with error 32 ERROR_SHARING_VIOLATION" \
  "=system" \
  "=  ~ Shift key: up -> held" \
  "=(virtual clock +250 ms)" \
  -"printer drivers" -"PendingFileRenameOperations" -"other"
row "diff: the other way round" 0 'winsim diff $T/d $T/a.json' \
  "=  + \"Gone\"  port FILE:, driver \"D\", settings name none" "=  ~ C:\\a.txt  7 -> 5 bytes" \
  "=  - delete \\??\\C:\\a.txt" "=(virtual clock -250 ms)"
row "diff: what nothing else covers" 0 \
  'winsim show $T/d >$T/d1.json && echo "{\"set\": {\"spooler\": {\"standardPorts\": [\"LPT1:\"]}}}" | winsim apply $T/d - && winsim diff $T/d1.json $T/d' \
  "=other" "=  ~ spooler/standardPorts: [\"LPT1:\",\"COM1:\",\"FILE:\"] -> [\"LPT1:\"]"
row "diff: a missing side" 1 'winsim diff $T/d $T/none' !"cannot read $T/none"
row "diff: older or partial saved outputs" 0 \
  'echo "{\"spooler\": {}, \"files\": {\"C:\\\\x\": 5}}" >$T/old.json && echo "{\"spooler\": {}, \"files\": {\"C:\\\\x\": {\"size\": 7}}}" >$T/new.json && winsim diff $T/old.json $T/new.json' \
  "=files" "=  ~ C:\\x  5 -> 7 bytes"

# ---------------------------------------------------------------------------
# reboot
# ---------------------------------------------------------------------------
row "reboot: pending operations carried out, programs ended, a spooler that never starts stays start pending" 0 'winsim reboot $M' \
  "=machine restarted" "=  - C:\\Windows\\System32\\old.dll  (3 bytes)" "=  - C:\\Temp\\new.dll  (3 bytes, no version resource)" \
  "=  ~ C:\\Temp\\dest.dll  15 -> 3 bytes, no program image -> no version resource" "=  - delete \\??\\C:\\Windows\\System32\\old.dll" \
  "=  ~ \"spooler\" state: \"stopped\" -> \"start pending\"" "=  ~ tray program running: yes -> no" \
  "=  - help viewer window \"Morvalente Help\" (class HH Parent)" \
  "=  - held open: C:\\Program Files\\Morvalente\\mrvtray.exe by mrvtray.exe (running), sharing read, never let go"
row "reboot: nothing left pending" 0 'winsim show $M pending' +"PendingFileRenameOperations): none"
row "reboot: no machine" 1 'winsim reboot $T/nowhere' !"no machine in"

# ---------------------------------------------------------------------------
# usage
# ---------------------------------------------------------------------------
row "usage: no command" 2 'winsim' !"usage:"
row "usage: an unknown command" 2 'winsim frobnicate $M' !"usage:"
row "usage: apply without a document" 2 'winsim apply $M' !"usage:"
row "usage: help" 0 'winsim help' +"winsim diff BEFORE AFTER"

echo "$rows rows, $failures failed"
[ "$failures" -eq 0 ]
