// Whole commands on prepared machines: the exit code, the complete run log
// and the virtual time the run waited.
#pragma once

#include <string>
#include <vector>

#include "support/fixture.h"

namespace mrvtest {

struct RunResult {
  unsigned exitCode = 0;
  std::string log;        // the run log as the dialog showed it ("" when no dialog)
  std::string title;      // the dialog's title
  uint64_t waitedMs = 0;  // virtual time spent waiting
  std::vector<std::string> leaks;
};

// Starts a new process on the current machine with `commandLine`, holds the
// Shift key so that the run shows its log, runs the program's entry point
// and collects what it did. The machine keeps the run's changes.
RunResult RunCommand(const std::u16string &commandLine, bool holdShift = true);

// Compares `actual` with the expected-output file tests/scenario/expected/NAME.
// With MRV_UPDATE_EXPECTED=1 in the environment the file is written instead.
// Returns an empty string when they match, else a description of the first
// difference.
std::string CompareWithExpected(const std::string &name, const std::string &actual);

// The waits of the last run, in order, as "Sleep MS" and
// "WaitForSingleObject KIND MS -> RESULT", from the process's journal. Next to
// RunResult::waitedMs it says where the waiting time went.
std::vector<std::string> Waits();

// The journal entries of the last run for one call, as "ARGS -> RESULT".
std::vector<std::string> Calls(const std::string &call);
// The arguments of the last run's calls of `call`, in order.
std::vector<std::string> CallArgs(const std::string &call);

// The product as a first install leaves it on the current machine: monitor,
// driver, the printer "Morvalente", the tray program registered and
// running. Fails when that install does not end with 1 or leaves a block or
// a handle behind.
::testing::AssertionResult InstallFirst();

// What the machine holds that an install or uninstall touches, one item per
// line, for comparison with a literal: the printers (port, driver, comment,
// location, printer data) and the default printer; the port monitors; the
// drivers with their files; every file of drive C: with its build number;
// the Run value; the tray program; the pending file operations; the
// product's per-user settings keys; files held open by other processes.
std::string MachineSummary();

// The strings of the machine's pending file operations value in order,
// the list's end included as a final empty string; a last string without
// its zero is marked "<no zero>". Empty when there is no value.
std::vector<std::string> PendingStrings();

// Machine preparation, as the spooler and the product would have left it.
// A registered port monitor for x64 that provides the port of its own name,
// its DLL loaded by the running spooler. Only the registration: the DLL's
// file is the caller's (PutMonitorFileBuild).
winsim::Monitor &PutMonitor(const std::string &name = "Morvalente:", const std::string &dll = "gwrmon64.dll");
// A driver of the model, its files named in the x64 version directory (the
// files themselves are not placed).
winsim::Driver &PutDriver(const std::string &name, const std::string &environment = "Windows x64",
                          const std::string &driverFile = "gwrdrv64.dll");
// A printer of the model, appended in enumeration order.
winsim::Printer &PutPrinter(const std::string &name, const std::string &driver = "Morvalente printer",
                            const std::string &port = "Morvalente:");
// The printer of this exact name, or nullptr.
winsim::Printer *FindPrinter(const std::string &name);
// A printer-data value of `type` stored as exactly these bytes under `key`
// ("" for the plain printer data, "DsUser" for the keyed copy).
void PutPrinterData(winsim::Printer &p, const std::string &key, const std::string &value, DWORD type,
                    const std::string &bytes);
// A printer-data value of type REG_SZ (ANSI bytes with their zero).
void PutPrinterString(winsim::Printer &p, const std::string &key, const std::string &value,
                      const std::string &text);
// A driver of another maker, with its one file in the version directory.
void PutOtherDriver(const std::string &name, const std::string &file);
// Places the file `dll` in the system directory as a component file of
// build `build` (-1: without a version resource).
void PutMonitorFileBuild(int build, const std::string &dll = "gwrmon64.dll");

}  // namespace mrvtest
