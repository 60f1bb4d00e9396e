# install.exe end to end under Wine: the command words and "removetray",
# a first install on a clean machine, the queries, a repair over the
# installed product, the uninstall with the tray program running, an upgrade
# over an older monitor and a kept compatible one, and "onInit" with a
# pending operation on a component file. Sourced by run.sh (installer_tests
# runs in the current prefix, laid out by lay_out) and by differential.sh.
#
# Exit codes are those Wine gives. Where Wine's spooler departs from
# Windows' (see WINE_NOTES.md) the check says so and names the Windows
# result; the evidence comes from Wine's own err/fixme lines of winspool,
# captured in $ART/STEP.wine.

# install_step NAME WANT ARGS...: runs install.exe ARGS as run_step does,
# its records in $ART/NAME.*, and checks its exit code against WANT.
install_step() {
  local name=$1 want=$2
  shift 2
  run_step "$ART" "$name" "$@"
  check_eq "$name: install.exe $* exits with $want" "$STEP_RC" "$want"
}

# Windows would give the printer a data type of its own (RAW); Wine's
# AddPrinterW does not, and then no one can open the printer. The tests put
# the value in, so that the steps after it meet the printer Windows would
# have made.
give_printer_datatype() {
  local key="HKLM\\System\\CurrentControlSet\\Control\\Print\\Printers\\$1"
  [ -n "$(reg_value "$key" Port)" ] || return 0
  w 60 reg add "$key" /v Datatype /t REG_SZ /d RAW /f >/dev/null 2>&1
}

# The runs and the queries on the machine they leave.
installer_tests() {
  local T=$'\t'
  local sys32 drvdir tray run_path run_key='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Run'
  sys32=$(host_path 'C:\windows\system32')
  drvdir=$(host_path 'C:\windows\system32\spool\drivers\x64')
  tray=$(host_path "$PRODUCT_WIN\\mrvtray.exe")
  run_path="$PRODUCT_WIN\\mrvtray.exe"
  local run_re=${run_path//\\/\\\\}
  local p='C:\\windows\\system32\\spool\\drivers\\x64\\3\\'

  echo "# installer: command words"
  install_step no-word 6
  install_step unknown-word 6 nonsense
  install_step DEF.SET 6 DEF.SET
  check_eq "DEF.SET: no log dialog" "$STEP_DIALOG" 0

  echo "# installer: removetray"
  install_step removetray-idle 6 removetray
  probe removetray-idle
  check_line "removetray, nothing running: no Run value" "$ART/removetray-idle.probe" "run${T}!2"
  check_file "removetray, nothing registered: the tray program's file stays" "$tray"
  # As at logon: registered in Run and started from there.
  w 60 reg add "$run_key" /v MorvalenteTray /t REG_SZ /d "$run_path" /f >/dev/null 2>&1
  spool tray-start traystart "$run_path"
  probe tray-started
  check_line "setup: tray program running" "$ART/tray-started.probe" "traymutex${T}present"
  install_step removetray-running 6 removetray
  check_eq "removetray: no log dialog" "$STEP_DIALOG" 0
  probe removetray-running
  check_line "removetray: the tray program has ended (mutex)" "$ART/removetray-running.probe" "traymutex${T}absent"
  check_line "removetray: the tray program has ended (window)" "$ART/removetray-running.probe" "traywindow${T}absent"
  check_line "removetray: the Run value is gone" "$ART/removetray-running.probe" "run${T}!2"
  check_no_file "removetray: its file is deleted" "$tray"
  cp "$STAGE/mrvtray.exe" "$tray"

  echo "# installer: clean machine"
  probe clean
  check_no_line "clean machine: no Morvalente: monitor" "$ART/clean.probe" "monitor${T}Morvalente:${T}.*"
  check_no_line "clean machine: no printer" "$ART/clean.probe" "printer${T}.*"
  install_step onChkDrv-clean 3 onChkDrv
  install_step onInit-clean 102 onInit

  echo "# installer: first install"
  install_step in-1 100 in
  # Windows: exit 1. Wine refuses the printer "Morvalente" (AddPrinterW 1801).
  check_eq "in-1: the log dialog is shown" "$STEP_DIALOG" 1
  check_line "in-1: its title tells of errors" "$ART/in-1.log" "title${T}Morvalente build $MRV_BUILD- Install error log!"
  check_line "in-1: the log begins with the build" "$ART/in-1.log" "Morvalente $MRV_BUILD"
  check_line "in-1: the dispatcher's line" "$ART/in-1.log" ">>0010"
  check_count "in-1: one error line" "$ART/in-1.log" "Error(" 1
  check_text "in-1: the error is Wine's refusal of the printer" "$ART/in-1.log" "Error(15): Can\`t add printer 'Morvalente'"
  check_text "in-1: Wine's evidence for it" "$ART/in-1.wine" "err:winspool:AddPrinterW OpenPrinter failing"
  probe in-1
  check_line "in-1: monitor Morvalente: registered with gwrmon64.dll" "$ART/in-1.probe" \
    "monitor${T}Morvalente:${T}[^$T]*${T}gwrmon64\\.dll"
  check_line "in-1: port Morvalente: provided" "$ART/in-1.probe" "port${T}Morvalente:${T}Morvalente:${T}.*"
  check_line "in-1: driver registered with the spooler's copies of its files" "$ART/in-1.probe" \
    "driver${T}Morvalente printer${T}3${T}${p}gwrdrv64\\.dll${T}${p}gwrdrv64\\.dll${T}${p}gwrui64\\.dll${T}${p}gwrhelp\\.chm${T}.*"
  check_line "in-1: printer Morvalente on Morvalente: (made by Wine despite its refusal)" "$ART/in-1.probe" \
    "printer${T}Morvalente${T}Morvalente:${T}Morvalente printer${T}.*"
  check_line "in-1: tray program registered in Run" "$ART/in-1.probe" "run${T}${run_re}"
  check_line "in-1: tray program running (mutex)" "$ART/in-1.probe" "traymutex${T}present"
  check_line "in-1: tray program running (window)" "$ART/in-1.probe" "traywindow${T}present"
  check_file "in-1: monitor file in the system directory" "$sys32/gwrmon64.dll"
  check_eq "in-1: monitor file of build $MRV_BUILD" "$(build_of 'C:\windows\system32\gwrmon64.dll')" "$MRV_BUILD"
  for f in gwrdrv64.dll gwrui64.dll gwrhelp.chm; do
    check_no_file "in-1: the installer's copy of $f is gone from the driver directory" "$drvdir/$f"
    check_file "in-1: the spooler's copy of $f is in x64\\3" "$drvdir/3/$f"
  done
  give_printer_datatype Morvalente
  probe in-1-fixed
  check_line "in-1: with a data type the printer opens" "$ART/in-1-fixed.probe" \
    "subkey${T}Morvalente${T}!2${T}!2"

  echo "# installer: queries"
  install_step onChkDrv 103 onChkDrv
  # A printer of another driver as the default printer.
  cp "$STAGE/Drivers/gwrdrv64.dll" "$STAGE/Drivers/gwrui64.dll" "$STAGE/Drivers/gwrhelp.chm" "$drvdir/"
  spool other-driver adddriver 'C:\windows\system32\spool\drivers\x64' gwrhelp.chm 'Other printer'
  rm -f "$drvdir/gwrdrv64.dll" "$drvdir/gwrui64.dll" "$drvdir/gwrhelp.chm"
  spool other-printer addprinter Other 'FILE:' 'Other printer' RAW
  spool other-default setdefault Other
  check_line "setup: printer Other of driver Other printer is the default" "$ART/other-default.spool" \
    "ok ordinal 204 Other"
  install_step onInit-other 102 onInit
  install_step def.set 4 def.set
  probe def-set
  check_line "def.set: Morvalente is the default printer" "$ART/def-set.probe" "default${T}Morvalente"
  install_step onInit 3 onInit
  install_step DEF.SET-after 6 DEF.SET
  install_step onInit-after-DEF.SET 3 onInit

  echo "# installer: repair over the installed product"
  spool subkey setsubkey Morvalente e2e-settings
  check_line "setup: printer Morvalente has the settings name e2e-settings" "$ART/subkey.spool" \
    "ok SetPrinterData e2e-settings"
  install_step in-2 100 in
  # Windows: exit 1. Wine cannot delete the driver with its files (87, error
  # 14) nor add the printer (1801, error 15, twice: the remembered printer,
  # then the fallback "Morvalente").
  check_line "in-2: its title tells of errors" "$ART/in-2.log" "title${T}Morvalente build $MRV_BUILD- Install error log!"
  check_text "in-2: the installed monitor's build is accepted" "$ART/in-2.log" \
    "Version ($MRV_BUILD) is compatible, proceed without uninstall"
  check_text "in-2: the product's printer is deleted" "$ART/in-2.log" ">DeletePrinter(Morvalente)"
  check_no_text "in-2: no printer deletion error" "$ART/in-2.log" "Error(17)"
  check_no_text "in-2: no printer open error" "$ART/in-2.log" "Error(16)"
  check_text "in-2: Wine refuses to delete the driver with its files" "$ART/in-2.log" \
    "Error(14): Can\`t remove the printer-driver 'Morvalente printer'"
  check_text "in-2: Wine's evidence for it" "$ART/in-2.wine" \
    "fixme:winspool:DeletePrinterDriverExW dwDeleteFlag = 4 - unsupported"
  check_count "in-2: both re-creations are refused by Wine" "$ART/in-2.log" "Error(15): Can\`t add printer 'Morvalente'" 2
  check_count "in-2: three error lines" "$ART/in-2.log" "Error(" 3
  probe in-2
  check_line "in-2: the other driver's printer is left alone" "$ART/in-2.probe" \
    "printer${T}Other${T}FILE:${T}Other printer${T}.*"
  check_line "in-2: monitor still registered" "$ART/in-2.probe" "monitor${T}Morvalente:${T}.*"
  check_eq "in-2: monitor file kept at build $MRV_BUILD" "$(build_of 'C:\windows\system32\gwrmon64.dll')" "$MRV_BUILD"
  check_line "in-2: tray program registered again" "$ART/in-2.probe" "run${T}${run_re}"
  # The tray program that ran was asked to exit; a repair keeps the file it
  # starts again, so the tray program runs after the install.
  check_file "in-2: the tray program's file is kept for the restart" "$tray"
  check_line "in-2: the tray program runs again" "$ART/in-2.probe" "traymutex${T}present"
  give_printer_datatype Morvalente

  echo "# installer: uninstall"
  # The tray program that the repair started still runs: the uninstall ends
  # it and removes its Run value.
  install_step un 100 un
  # Windows: exit 2. Wine cannot delete the driver with its files (error 14).
  check_count "un: one error line" "$ART/un.log" "Error(" 1
  check_text "un: it is Wine's refusal to delete the driver's files" "$ART/un.log" "Error(14)"
  check_no_text "un: an uninstall writes no >>0010 line" "$ART/un.log" ">>0010"
  check_text "un: the monitor is removed" "$ART/un.log" "Monitor was removed :)"
  probe un
  check_no_line "un: no Morvalente: monitor" "$ART/un.probe" "monitor${T}Morvalente:${T}.*"
  check_no_line "un: no Morvalente printer" "$ART/un.probe" "printer${T}Morvalente${T}.*"
  check_line "un: the other driver's printer stays" "$ART/un.probe" "printer${T}Other${T}FILE:${T}Other printer${T}.*"
  check_line "un: Wine keeps the driver it could not delete" "$ART/un.probe" "driver${T}Morvalente printer${T}.*"
  check_no_file "un: monitor file deleted" "$sys32/gwrmon64.dll"
  check_line "un: no Run value" "$ART/un.probe" "run${T}!2"

  echo "# installer: upgrade over an older monitor"
  cp "$STAGE/mrvtray.exe" "$tray"
  cp "$(host_path "$TOOLS_WIN\\build2450\\gwrmon64.dll")" "$sys32/gwrmon64.dll"
  spool old-monitor addmonitor
  check_line "setup: monitor of build 2450 registered" "$ART/old-monitor.spool" "ok AddMonitorW"
  install_step in-old 100 in
  check_text "in-old: build 2450 is not accepted" "$ART/in-old.log" \
    "Version (2450) is not supported, proceed with reinstall"
  check_text "in-old: the old monitor is removed" "$ART/in-old.log" "Monitor was removed :)"
  check_no_text "in-old: the new monitor registers" "$ART/in-old.log" "Error(11)"
  check_eq "in-old: the monitor file is now of build $MRV_BUILD" "$(build_of 'C:\windows\system32\gwrmon64.dll')" \
    "$MRV_BUILD"
  give_printer_datatype Morvalente

  echo "# installer: a compatible older monitor is kept"
  cp "$(host_path "$TOOLS_WIN\\build2451\\gwrmon64.dll")" "$sys32/gwrmon64.dll"
  install_step in-compatible 100 in
  check_text "in-compatible: build 2451 is accepted" "$ART/in-compatible.log" \
    "Version (2451) is compatible, proceed without uninstall"
  check_no_text "in-compatible: the monitor is not removed" "$ART/in-compatible.log" "Monitor was removed :)"
  check_eq "in-compatible: the monitor file stays at build 2451" "$(build_of 'C:\windows\system32\gwrmon64.dll')" "2451"
  give_printer_datatype Morvalente

  echo "# installer: onInit with a pending operation on a component file"
  local key='HKLM\System\CurrentControlSet\Control\Session Manager'
  w 60 reg add "$key" /v PendingFileRenameOperations /t REG_MULTI_SZ \
    /d '\??\C:\windows\system32\spool\drivers\x64\3\gwrdrv64.dll\0\??\C:\windows\temp\gwrdrv64.old' /f \
    >/dev/null 2>&1
  probe pending
  check_line "setup: the pending rename is there" "$ART/pending.probe" \
    "pending${T}0${T}"'\\\?\?\\C:\\windows\\system32\\spool\\drivers\\x64\\3\\gwrdrv64\.dll'
  install_step onInit-pending 200 onInit
  probe after-pending
  check_line "onInit-pending: the spooler runs after its restarts" "$ART/after-pending.probe" "spooler${T}4"
  check_file "onInit-pending: a pending rename is not carried out" "$drvdir/3/gwrdrv64.dll"
  w 60 reg delete "$key" /v PendingFileRenameOperations /f >/dev/null 2>&1
  install_step def.set-again 4 def.set
  install_step onInit-cleared 3 onInit
}
