# The differential scenario under Wine: a first install on a fresh prefix,
# a repair over it with the printer carrying a settings name, the uninstall.
# Sourced by differential.sh (lib.sh and installer.sh already sourced, ART
# set); wine_steps OUT writes OUT/STEP.log (the log dialog's text, first
# line "title<TAB>TITLE") and OUT/STEP.rc (the exit code) for STEP in
# in-1, in-2, un. Returns 1 when the prefix cannot be made.

# The product and the test tools, laid out as run.sh does.
diff_lay_out() {
  local product tools
  product=$(host_path "$PRODUCT_WIN")
  tools=$(host_path "$TOOLS_WIN")
  mkdir -p "$product/Drivers" "$tools"
  cp "$STAGE/Drivers/"* "$product/Drivers/"
  cp "$STAGE/mrvtray.exe" "$product/"
  cp "$INSTALL_EXE" "$product/Drivers/"
  cp "$TOOLS/"*.exe "$tools/"
}

# wine_step OUT NAME ARGS...: runs install.exe ARGS as installer.sh's
# install_step does (the log dialog's text read by mrvdialog, then closed
# with its "Close" button); the log goes to OUT/NAME.log, the exit code to
# OUT/NAME.rc.
wine_step() {
  local out=$1 name=$2
  shift 2
  : >"$out/$name.log"
  (WINEDEBUG=-all timeout -k 5 300 "$WINE" "$INSTALL_WIN" "$@" >/dev/null 2>"$out/$name.wine") &
  local pid=$! seen=0
  while kill -0 "$pid" 2>/dev/null; do
    if [ "$seen" -eq 0 ] && w 30 "$TOOLS_WIN\\mrvdialog.exe" 0 keep >"$out/$name.log" 2>/dev/null; then
      seen=1
      w 30 "$TOOLS_WIN\\mrvdialog.exe" 0 ok >/dev/null 2>&1
    fi
    sleep 0.5
  done
  wait "$pid"
  echo $? >"$out/$name.rc"
}

wine_steps() {
  local out=$1
  mkdir -p "$out"
  new_prefix "$DIFF_PREFIX" || return 1
  diff_lay_out
  wine_step "$out" in-1 in
  give_printer_datatype Morvalente
  spool diff-subkey setsubkey Morvalente e2e-settings
  wine_step "$out" in-2 in
  give_printer_datatype Morvalente
  wine_step "$out" un un
  end_prefix
}
