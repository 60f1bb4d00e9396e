# The differential scenario under Wine: a first install on a fresh prefix,
# a repair over it with the printer carrying a settings name, the uninstall.
# Sourced by differential.sh (lib.sh and installer.sh already sourced, ART
# set); wine_steps OUT writes OUT/STEP.log (the log dialog's text, first
# line "title<TAB>TITLE") and OUT/STEP.rc (the exit code) for STEP in
# in-1, in-2, un. Returns 1 when the prefix cannot be made.

# wine_step OUT NAME ARGS...: runs install.exe ARGS (lib.sh's run_step),
# its records in OUT/NAME.*, and writes the exit code to OUT/NAME.rc.
wine_step() {
  local out=$1 name=$2
  shift 2
  run_step "$out" "$name" "$@"
  echo "$STEP_RC" >"$out/$name.rc"
}

wine_steps() {
  local out=$1
  mkdir -p "$out"
  new_prefix "$DIFF_PREFIX" || return 1
  lay_out
  wine_step "$out" in-1 in
  give_printer_datatype Morvalente
  spool diff-subkey setsubkey Morvalente e2e-settings
  wine_step "$out" in-2 in
  give_printer_datatype Morvalente
  wine_step "$out" un un
  end_prefix
}
