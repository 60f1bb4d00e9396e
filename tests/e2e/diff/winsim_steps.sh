# The differential scenario on winsim: the same steps as wine_steps.sh on a
# simulated machine set up as a fresh Wine prefix is. Sourced by
# differential.sh; winsim_steps OUT writes OUT/STEP.log (first line
# "title<TAB>TITLE", then the log) and OUT/STEP.rc for in-1, in-2, un.

# winsim_step OUT NAME ARGS...: build/native/install ARGS on the machine
# with Shift held, so the log dialog always shows; winsim writes the dialog
# to stderr ("=== TITLE ===", the text, "=== [ BUTTON ] ===").
winsim_step() {
  local out=$1 name=$2
  shift 2
  WINSIM_MACHINE=$DIFF_MACHINE WINSIM_DIALOG=stderr timeout -k 5 120 "$NATIVE/install" "$@" \
    </dev/null >/dev/null 2>"$out/$name.stderr"
  echo $? >"$out/$name.rc"
  awk '
    !inside && /^=== .* ===$/ && !/^=== \[/ { inside = 1; t = $0; sub(/^=== /, "", t); sub(/ ===$/, "", t); print "title\t" t; next }
    inside && /^=== \[ .* \] ===$/ { inside = 0; next }
    inside { print }
  ' "$out/$name.stderr" >"$out/$name.log"
}

winsim_steps() {
  local out=$1
  mkdir -p "$out"
  rm -rf "$DIFF_MACHINE"
  "$NATIVE/winsim" new "$DIFF_MACHINE" >/dev/null || return 1
  # As a fresh Wine prefix: the spooler service stopped, the monitor
  # "Local Port" with its ports, no default printer; Shift held.
  "$NATIVE/winsim" apply "$DIFF_MACHINE" "$DIFF_HERE/start.json" >/dev/null || return 1
  winsim_step "$out" in-1 in
  # As installer.sh's setup before the repair: the printer's settings name.
  echo '{"changePrinters": [{"name": "Morvalente", "subKey": "e2e-settings"}]}' |
    "$NATIVE/winsim" apply "$DIFF_MACHINE" - || return 1
  winsim_step "$out" in-2 in
  winsim_step "$out" un un
}
