// InstallContext: the one record that carries an install or uninstall run,
// and the operations that prepare the machine for the run.
#pragma once

#include "app/run_lists.h"
#include "common/counted_string.h"
#include "platform/win32.h"

// The machine's printers at information level 2 (local and connected), as
// the spooler laid them out in one global-memory block, used in place.
struct PrinterList {
  PRINTER_INFO_2W *Entries;  // GlobalAlloc block with the records and their texts, or null
  DWORD Count;               // number of records; 0 whenever Entries is null
};

// Run flags for InitContext.
const DWORD RunFlag64Bit = 2;   // the "Windows x64" environment
const DWORD RunFlagNoTray = 4;  // do not start the tray program at the end

struct InstallContext {
  CountedString ModuleDir;  // installer's directory, ending in its separator; empty when unknown
  CountedString SystemDir;  // system directory with a trailing backslash; empty when unknown
  CountedString Log;        // the run log
  CountedString DriverDir;  // spooler's driver directory with a trailing backslash; empty when unknown
  LPCWSTR Environment;      // "Windows x64" or "Windows NT x86" (constant, not owned)
  LPCWSTR MonitorFile;
  LPCWSTR DriverFile;
  LPCWSTR HelpFile;
  LPCWSTR UiFile;
  BYTE Is64Bit;
  BYTE VerifyMonitorVersion;
  BYTE InstallMonitor;
  BYTE LaunchTray;
  BYTE CopyMonitor;
  LONG ErrorCount;
  LONG IndentLevel;
  LockedFileNode *LockedFiles;
  SavedPrinter *SavedPrinters;
  PrinterList Printers;
  // Null-terminated GlobalAlloc array of references to records inside
  // Printers (the printers parked on "file:"), or null.
  PRINTER_INFO_2W **RedirectedPrinters;
};

// Fills the caller's context for a run with the given run flags: writes the
// first log lines, makes sure the spooler runs, selects the environment and
// reads the driver directory, finds the installer's and the system's
// directories and loads the printers with the default one marked. Failures
// are error lines in the log; the context is always usable. Returns ctx.
// The caller releases it with FreeContext.
InstallContext *InitContext(InstallContext *ctx, DWORD flags);

// Releases everything the context owns and leaves its fields empty.
void FreeContext(InstallContext *ctx);

// Sets Is64Bit, Environment, the four file names and DriverDir for the
// 64-bit ("Windows x64") or the 32-bit ("Windows NT x86") environment.
void SelectEnvironment(InstallContext *ctx, BOOL is64Bit);

// Logs ">Check Spooler" and starts the "spooler" service when it is not
// running. Returns TRUE when the service runs at the end of the call (or its
// state could not be read).
BOOL CheckSpooler(InstallContext *ctx);

// Starts the service (an open handle with start and query rights) and polls
// its state every 200 ms, at most 50 times. Returns TRUE when it runs.
BOOL StartSpoolerAndWait(SC_HANDLE service);

// Replaces the list's contents with the machine's current printers. An empty
// list is its only failure signal.
void LoadPrinterList(PrinterList *list);

// Releases the list's block and sets its count to 0.
void FreePrinterList(PrinterList *list);

// Whether the printer uses the product's driver "Morvalente printer" (the
// name compared exactly, letter case included).
BOOL IsProductPrinter(const PRINTER_INFO_2W *record);

// The list's first printer on the product's driver, or null. The record
// belongs to the list.
PRINTER_INFO_2W *FirstProductPrinter(const PrinterList *list);

// Loads the context's Printers and sets PRINTER_ATTRIBUTE_DEFAULT on every
// record named like the default printer.
void MarkDefaultPrinter(InstallContext *ctx);
