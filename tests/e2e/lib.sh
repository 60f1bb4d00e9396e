# Helpers of the end-to-end tests under Wine; sourced by run.sh and
# differential.sh.
#
# Every Wine call is bounded by a time-out. Results are counted in PASS and
# FAIL; each check prints one line "ok   - NAME" or "FAIL - NAME: why".

PASS=0
FAIL=0

# Where lay_out places the product and the test tools in a prefix.
PRODUCT_WIN='C:\Program Files\Morvalente'
TOOLS_WIN='C:\mrvtest'
INSTALL_WIN="$PRODUCT_WIN\\Drivers\\install.exe"

# build_dir VAR WHO DIR [HINT]: sets VAR to the absolute path of the build
# directory DIR; when there is none, prints "WHO: no build directory DIR"
# (and "; HINT") and returns 1.
build_dir() {
  local abs
  abs=$(cd "$3" 2>/dev/null && pwd) || {
    echo "$2: no build directory $3${4:+; $4}"
    return 1
  }
  printf -v "$1" '%s' "$abs"
}

# windows_build WHO DIR [HINT]: BUILD, the Windows build directory DIR (as
# build_dir), and the places of what lay_out takes from it: STAGE (the
# product as installed), TOOLS (the test tools), INSTALL_EXE.
windows_build() {
  build_dir BUILD "$@" || return 1
  STAGE=$BUILD/stage/Morvalente
  TOOLS=$BUILD/product/tools
  INSTALL_EXE=$BUILD/install.exe
}

# on_display VAR SECS WHAT SCRIPT ARGS...: while VAR is unset, runs
# "bash SCRIPT ARGS" in this shell's place with VAR=1, bounded by SECS
# seconds, on the X display there is or else on a virtual one of xvfb-run's;
# without Wine or without a way to a display it prints "SKIP - WHAT: why"
# and ends the script with 0. Once VAR is set it returns at once.
on_display() {
  local var=$1 secs=$2 what=$3
  shift 3
  [ -z "${!var:-}" ] || return 0
  if ! find_wine; then
    echo "SKIP - $what: Wine is not installed (scripts/deps.sh wine)"
    exit 0
  fi
  export "$var=1"
  if [ -n "${DISPLAY:-}" ]; then
    exec timeout -k 10 "$secs" bash "$@"
  fi
  if ! command -v xvfb-run >/dev/null; then
    echo "SKIP - $what: no X display and no xvfb-run (scripts/deps.sh wine)"
    exit 0
  fi
  exec timeout -k 10 "$secs" xvfb-run -a -s "-screen 0 1024x768x24" bash "$@"
}

ok() {
  PASS=$((PASS + 1))
  echo "ok   - $1"
}

bad() {
  FAIL=$((FAIL + 1))
  echo "FAIL - $1: $2"
}

# check_eq NAME GOT WANT
check_eq() {
  if [ "$2" == "$3" ]; then ok "$1"; else bad "$1" "got '$2', expected '$3'"; fi
}

# check_line NAME FILE REGEX: some whole line of FILE matches the extended
# regular expression (anchored at both ends).
check_line() {
  if grep -qE -- "^$3\$" "$2" 2>/dev/null; then
    ok "$1"
  else
    bad "$1" "no line matching /$3/ in $(basename "$2")"
  fi
}

# check_no_line NAME FILE REGEX: no whole line of FILE matches.
check_no_line() {
  local hit
  hit=$(grep -m1 -E -- "^$3\$" "$2" 2>/dev/null)
  if [ -z "$hit" ]; then ok "$1"; else bad "$1" "unexpected line '$hit' in $(basename "$2")"; fi
}

# check_text NAME FILE TEXT: FILE holds TEXT (fixed string) somewhere.
check_text() {
  if grep -qF -- "$3" "$2" 2>/dev/null; then ok "$1"; else bad "$1" "'$3' not in $(basename "$2")"; fi
}

# check_no_text NAME FILE TEXT
check_no_text() {
  if grep -qF -- "$3" "$2" 2>/dev/null; then bad "$1" "'$3' found in $(basename "$2")"; else ok "$1"; fi
}

# check_count NAME FILE TEXT N: TEXT (fixed string) occurs on exactly N lines.
check_count() {
  local n
  n=$(grep -cF -- "$3" "$2" 2>/dev/null)
  check_eq "$1" "${n:-0}" "$4"
}

# check_file NAME PATH: the file exists; check_no_file NAME PATH: it does not.
check_file() {
  if [ -f "$2" ]; then ok "$1"; else bad "$1" "$2 is missing"; fi
}
check_no_file() {
  if [ -e "$2" ]; then bad "$1" "$2 is still there"; else ok "$1"; fi
}

# Finds Wine: sets WINE and WINESERVER, or returns 1.
find_wine() {
  WINE=${WINE:-}
  if [ -z "$WINE" ]; then
    WINE=$(command -v wine64 || command -v wine || true)
    if [ -z "$WINE" ] && [ -x /usr/lib/wine/wine64 ]; then
      WINE=/usr/lib/wine/wine64
      export WINELOADER=/usr/lib/wine/wine64
    fi
  fi
  WINESERVER=${WINESERVER:-$(command -v wineserver || true)}
  for s in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    [ -z "$WINESERVER" ] && [ -x "$s" ] && WINESERVER=$s
  done
  [ -n "$WINE" ] && [ -n "$WINESERVER" ]
}

# w SECONDS ARGS...: runs a Windows program under Wine, bounded in time.
# WINEDEBUG comes from W_DEBUG (default: all channels off).
w() {
  local secs=$1
  shift
  WINEDEBUG=${W_DEBUG:--all} timeout -k 5 "$secs" "$WINE" "$@"
}

# Converts a Windows path on drive C: to the host path inside the prefix.
host_path() {
  local p=${1#[Cc]:}
  p=${p//\\//}
  echo "$WINEPREFIX/drive_c$p"
}

# new_prefix DIR: creates a Wine prefix in DIR (its own wineserver).
new_prefix() {
  export WINEPREFIX=$1
  mkdir -p "$WINEPREFIX"
  w 240 wineboot -u >"$ART/wineboot-$(basename "$1").txt" 2>&1
  local rc=$?
  # The X server has no window manager: Wine draws the windows' title bars
  # itself, so that the dialog's screenshot shows its title.
  w 60 reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
  timeout 60 "$WINESERVER" -w >/dev/null 2>&1
  [ $rc -eq 0 ] && [ -d "$WINEPREFIX/drive_c/windows/system32" ]
}

# end_prefix: stops everything still running in the current prefix.
end_prefix() {
  timeout 30 "$WINESERVER" -k >/dev/null 2>&1
  timeout 30 "$WINESERVER" -w >/dev/null 2>&1
}

# probe NAME: the machine's printing state into $ART/NAME.probe.
probe() {
  w 60 "$TOOLS_WIN\\mrvprobe.exe" >"$ART/$1.probe" 2>"$ART/$1.probe.err"
}

# spool NAME ARGS...: one mrvspool command, its output into $ART/NAME.spool;
# returns its exit code.
spool() {
  local name=$1
  shift
  w 60 "$TOOLS_WIN\\mrvspool.exe" "$@" >"$ART/$name.spool" 2>"$ART/$name.spool.err"
}

# build_of WINPATH: the build number mrvprobe reads from the file.
build_of() {
  w 60 "$TOOLS_WIN\\mrvprobe.exe" build "$1" 2>/dev/null | tr -d '\r' | cut -f3
}

# reg_value KEY VALUE: the data of a registry value through Wine's reg.exe,
# or nothing.
reg_value() {
  w 60 reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^  */, ""); print }'
}

# lay_out [BUILD...]: places the product (with install.exe once it is built)
# and the test tools in the current prefix; for each BUILD number the older
# build's DLLs from BUILD_DIR/product/buildBUILD go to TOOLS_WIN\buildBUILD.
lay_out() {
  local product tools b
  product=$(host_path "$PRODUCT_WIN")
  tools=$(host_path "$TOOLS_WIN")
  mkdir -p "$product/Drivers" "$tools"
  cp "$STAGE/Drivers/"* "$product/Drivers/"
  cp "$STAGE/mrvtray.exe" "$product/"
  if [ -f "$INSTALL_EXE" ]; then cp "$INSTALL_EXE" "$product/Drivers/"; fi
  cp "$TOOLS/"*.exe "$tools/"
  for b in "$@"; do
    mkdir -p "$tools/build$b"
    cp "$BUILD/product/build$b/"*.dll "$tools/build$b/"
  done
}

# run_step DIR NAME ARGS...: runs install.exe ARGS in the current prefix.
# Its output goes to DIR/NAME.out and Wine's messages (with winspool's and
# localspl's err and fixme lines) to DIR/NAME.wine. When the log dialog
# appears, its text goes to DIR/NAME.log (first line "title<TAB>TITLE";
# empty without a dialog), a screenshot to DIR/NAME.png, and the dialog is
# closed with its "Close" button. Sets STEP_RC to the exit code and
# STEP_DIALOG to 1 when the dialog was shown, else 0.
run_step() {
  local dir=$1 name=$2
  shift 2
  : >"$dir/$name.log"
  rm -f "$dir/$name.png"
  (WINEDEBUG=-all,err+winspool,fixme+winspool,err+localspl timeout -k 5 300 "$WINE" "$INSTALL_WIN" "$@" \
    >"$dir/$name.out" 2>"$dir/$name.wine") &
  local pid=$!
  STEP_DIALOG=0
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$STEP_DIALOG" -eq 0 ] && w 30 "$TOOLS_WIN\\mrvdialog.exe" 0 keep >"$dir/$name.log" 2>/dev/null; then
      STEP_DIALOG=1
      if command -v import >/dev/null; then import -window root "$dir/$name.png" 2>/dev/null; fi
      w 30 "$TOOLS_WIN\\mrvdialog.exe" 0 ok >/dev/null 2>&1
    fi
    sleep 0.5
  done
  wait "$pid"
  # shellcheck disable=SC2034 # read by the callers
  STEP_RC=$?
}
