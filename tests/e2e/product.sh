# The product's parts under Wine, without the installer: version resources,
# the default-printer ordinals, the monitor, the driver and its configuration
# module, the tray program, and where Wine's spooler departs from Windows'.
# Sourced by run.sh; product_tests runs in the current prefix, laid out by
# lay_out.

product_tests() {
  local sys32 drvdir p
  sys32=$(host_path 'C:\windows\system32')
  drvdir=$(host_path 'C:\windows\system32\spool\drivers\x64')
  local T=$'\t'

  echo "# product parts"

  # Version resources: the fourth number of the product version is the build.
  check_eq "gwrmon64.dll carries build $MRV_BUILD" "$(build_of "$PRODUCT_WIN\\Drivers\\gwrmon64.dll")" "$MRV_BUILD"
  check_eq "gwrdrv64.dll carries build $MRV_BUILD" "$(build_of "$PRODUCT_WIN\\Drivers\\gwrdrv64.dll")" "$MRV_BUILD"
  check_eq "gwrui64.dll carries build $MRV_BUILD" "$(build_of "$PRODUCT_WIN\\Drivers\\gwrui64.dll")" "$MRV_BUILD"
  check_eq "mrvtray.exe carries build $MRV_BUILD" "$(build_of "$PRODUCT_WIN\\mrvtray.exe")" "$MRV_BUILD"
  check_eq "gwrhelp.chm has no version resource" "$(build_of "$PRODUCT_WIN\\Drivers\\gwrhelp.chm")" "-1"
  check_eq "a missing file reads as build -1" "$(build_of 'C:\no\such.dll')" "-1"
  for b in $OTHER_BUILDS; do
    check_eq "build$b/gwrmon64.dll carries build $b" "$(build_of "$TOOLS_WIN\\build$b\\gwrmon64.dll")" "$b"
  done

  # The default-printer calls the installer imports by number.
  spool ordinals ordinals
  check_line "winspool ordinal 203 is GetDefaultPrinterW" "$ART/ordinals.spool" "ordinal 203 = GetDefaultPrinterW"
  check_line "winspool ordinal 204 is SetDefaultPrinterW" "$ART/ordinals.spool" "ordinal 204 = SetDefaultPrinterW"

  # The monitor: registered from the system directory, it provides its port.
  cp "$STAGE/Drivers/gwrmon64.dll" "$sys32/"
  W_DEBUG=+localspl spool addmonitor addmonitor
  check_line "AddMonitorW accepts gwrmon64.dll" "$ART/addmonitor.spool" "ok AddMonitorW"
  check_text "the spooler takes the monitor's MONITOR2 table" "$ART/addmonitor.spool.err" \
    'MONITOR2 from L"gwrmon64.dll",InitializePrintMonitor2'
  spool addmonitor-again addmonitor
  check_line "a second AddMonitorW is refused as already installed" "$ART/addmonitor-again.spool" \
    "fail AddMonitorW 3006"
  probe monitor
  check_line "EnumMonitorsW lists Morvalente: with gwrmon64.dll" "$ART/monitor.probe" \
    "monitor${T}Morvalente:${T}[^$T]*${T}gwrmon64\\.dll"
  check_line "EnumPortsW lists the port Morvalente:" "$ART/monitor.probe" \
    "port${T}Morvalente:${T}Morvalente:${T}Morvalente virtual printer port"

  # The driver: the files go to the driver directory first, as the installer
  # copies them; APD_COPY_ALL_FILES puts the spooler's copies into 3\.
  cp "$STAGE/Drivers/gwrdrv64.dll" "$STAGE/Drivers/gwrui64.dll" "$STAGE/Drivers/gwrhelp.chm" "$drvdir/"
  W_DEBUG=+localspl spool adddriver adddriver 'C:\windows\system32\spool\drivers\x64'
  check_line "AddPrinterDriverExW level 6 accepts the driver" "$ART/adddriver.spool" "ok AddPrinterDriverExW"
  check_text "the spooler accepts the driver" "$ART/adddriver.spool.err" 'myAddPrinterDriverEx => TRUE'
  # Wine's localspl means to call DrvDriverEvent, but it looks for the
  # configuration module under the version directory joined with the whole
  # path it was given, so it never finds it (and goes on regardless).
  check_text "Wine: DrvDriverEvent is not reached (the module is looked for under a joined path)" \
    "$ART/adddriver.spool.err" 'x64\\3\\C:\\windows\\system32\\spool\\drivers\\x64\\gwrui64.dll") 126'
  for f in gwrdrv64.dll gwrui64.dll gwrhelp.chm; do
    check_file "the spooler keeps its copy of $f in x64\\3" "$drvdir/3/$f"
  done
  probe driver
  p='C:\\windows\\system32\\spool\\drivers\\x64\\3\\'
  check_line "EnumPrinterDriversW level 6 lists the driver with its files" "$ART/driver.probe" \
    "driver${T}Morvalente printer${T}3${T}${p}gwrdrv64\\.dll${T}${p}gwrdrv64\\.dll${T}${p}gwrui64\\.dll${T}${p}gwrhelp\\.chm${T}.*"

  # A printer with a data type: the configuration module supplies the
  # DEVMODEW and the capabilities.
  spool addprinter-raw addprinter Probe 'Morvalente:' 'Morvalente printer' RAW
  check_line "AddPrinterW with data type RAW works" "$ART/addprinter-raw.spool" "ok AddPrinterW Probe"
  spool devmode devmode Probe
  check_line "the driver's default DEVMODEW: A4, portrait, colour, 600 dpi, 1 copy" "$ART/devmode.spool" \
    "ok devmode size=220 dmSize=220 extra=0 fields=0x2d03 orientation=1 paper=9 copies=1 quality=600 color=2 device=Probe"
  spool papers papers Probe
  check_line "the driver's papers are A4 and Letter" "$ART/papers.spool" "ok papers 9=A4 1=Letter"
  spool setsubkey setsubkey Probe e2e-settings
  spool getsubkey getsubkey Probe
  check_line "printer data SubKey round trip" "$ART/getsubkey.spool" "ok SubKey plain e2e-settings"
  spool setdefault setdefault Probe
  spool getdefault getdefault
  check_line "ordinal 204 sets and ordinal 203 reads the default printer" "$ART/getdefault.spool" \
    "ok ordinal 203 Probe"

  # The tray program: mutex owned, window of its class, exit on 0x402 with
  # its file free at once.
  spool traystart traystart "$PRODUCT_WIN\\mrvtray.exe"
  probe tray-running
  check_line "the tray program holds its mutex" "$ART/tray-running.probe" "traymutex${T}present"
  check_line "the tray program has its window" "$ART/tray-running.probe" "traywindow${T}present"
  spool traystart-second traystart "$PRODUCT_WIN\\mrvtray.exe"
  spool traystop traystop "$PRODUCT_WIN\\mrvtray.exe"
  check_line "the tray program releases its mutex on 0x402" "$ART/traystop.spool" "note tray released its mutex"
  check_line "its file is free within the installer's 10 deletion attempts" "$ART/traystop.spool" \
    "note deletion attempts ([1-9]|10)"
  probe tray-stopped
  check_line "no tray mutex after the exit request" "$ART/tray-stopped.probe" "traymutex${T}absent"
  check_line "no tray window after the exit request" "$ART/tray-stopped.probe" "traywindow${T}absent"
  cp "$STAGE/mrvtray.exe" "$(host_path "$PRODUCT_WIN")/"

  echo "# where Wine's spooler departs from Windows'"

  # AddPrinterW without a data type (as the installer fills the record):
  # Windows stores RAW; Wine stores none, then cannot open the printer it
  # has just made and fails with 1801 though the printer stays listed. The
  # port does not matter: FILE: behaves the same.
  W_DEBUG=+winspool,+localspl,+reg spool addprinter-null addprinter NoType 'Morvalente:'
  check_line "Wine: AddPrinterW without a data type fails with 1801" "$ART/addprinter-null.spool" \
    "fail AddPrinterW 1801"
  check_text "Wine: evidence 'AddPrinterW OpenPrinter failing'" "$ART/addprinter-null.spool.err" \
    "err:winspool:AddPrinterW OpenPrinter failing"
  check_text "Wine: evidence, localspl's OpenPrinter asks for the printer's Datatype" \
    "$ART/addprinter-null.spool.err" 'L"Datatype"'
  check_eq "Wine: evidence, the new printer has no Datatype value" \
    "$(reg_value 'HKLM\System\CurrentControlSet\Control\Print\Printers\NoType' Datatype)" ""
  check_eq "Wine: ... while it has its port" \
    "$(reg_value 'HKLM\System\CurrentControlSet\Control\Print\Printers\NoType' Port)" "Morvalente:"
  W_DEBUG=-all spool addprinter-null-file addprinter NoTypeFile 'FILE:'
  check_line "Wine: the same on the port FILE:" "$ART/addprinter-null-file.spool" "fail AddPrinterW 1801"
  probe notype
  check_line "Wine: the failed printer is listed all the same" "$ART/notype.probe" \
    "printer${T}NoType${T}Morvalente:${T}Morvalente printer${T}.*"

  # DeletePrinterDriverExW with DPD_DELETE_ALL_FILES (4): not implemented.
  W_DEBUG=+winspool spool deletedriver4 deletedriver 4
  check_line "Wine: DeletePrinterDriverExW with flags 4 fails with 87" "$ART/deletedriver4.spool" \
    "fail DeletePrinterDriverExW 87"
  check_text "Wine: evidence 'dwDeleteFlag = 4 - unsupported'" "$ART/deletedriver4.spool.err" \
    "fixme:winspool:DeletePrinterDriverExW dwDeleteFlag = 4 - unsupported"

  # DeleteMonitorW while the printer Probe uses the port: Windows refuses
  # (3008); Wine deletes the monitor.
  W_DEBUG=+localspl spool deletemonitor-inuse deletemonitor
  check_line "Wine: DeleteMonitorW succeeds while a printer uses the port" "$ART/deletemonitor-inuse.spool" \
    "ok DeleteMonitorW"
  check_text "Wine: evidence 'fpDeleteMonitor L\"Morvalente:\" deleted'" "$ART/deletemonitor-inuse.spool.err" \
    'fpDeleteMonitor L"Morvalente:" deleted'
  spool readdmonitor addmonitor

  # DeletePrinterDriverExW without flags while printers use the driver:
  # Windows refuses (3001); Wine deletes it.
  spool deletedriver0 deletedriver 0
  check_line "Wine: DeletePrinterDriverExW deletes a driver in use" "$ART/deletedriver0.spool" \
    "ok DeletePrinterDriverExW"
  cp "$STAGE/Drivers/gwrdrv64.dll" "$STAGE/Drivers/gwrui64.dll" "$STAGE/Drivers/gwrhelp.chm" "$drvdir/"
  spool readddriver adddriver 'C:\windows\system32\spool\drivers\x64'

  # The purge before DeletePrinter: SetPrinterW level 0 is refused (124);
  # the deletion itself works.
  spool deleteprinter deleteprinter Probe
  check_line "Wine: SetPrinterW level 0 (purge) fails with 124" "$ART/deleteprinter.spool" "note purge failed 124"
  check_line "DeletePrinter works after it" "$ART/deleteprinter.spool" "ok DeletePrinter Probe"

  # The spooler service: Wine's spooler calls run inside the calling
  # process, so they work whether the service runs or not; after wineboot
  # it does not run (start type 3, on demand), yet every call above worked.
  spool spooler-status spooler status
  check_line "Wine: the spooler service is stopped in a new prefix" "$ART/spooler-status.spool" \
    "ok spooler state 1"
  spool spooler-start spooler start
  check_line "the spooler service starts" "$ART/spooler-start.spool" "ok spooler state 4"
  spool spooler-stop spooler stop
  check_line "the spooler service stops" "$ART/spooler-stop.spool" "ok spooler state 1"
  spool stopped-add addprinter WhileStopped 'Morvalente:' 'Morvalente printer' RAW
  check_line "Wine: spooler calls work while the service is stopped" "$ART/stopped-add.spool" \
    "ok AddPrinterW WhileStopped"
  spool spooler-restart spooler start
  check_line "the spooler service starts again" "$ART/spooler-restart.spool" "ok spooler state 4"
}
