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

// What the machine holds that an install or uninstall touches, one item per
// line, for comparison with a literal: the printers (port, driver, comment,
// location, printer data) and the default printer; the port monitors; the
// drivers with their files; every file of drive C: with its build number;
// the Run value; the tray program; the pending file operations; the
// product's per-user settings keys; files held open by other processes.
std::string MachineSummary();

// Machine preparation, as the spooler and the product would have left it.
// A printer of the model, appended in enumeration order.
winsim::Printer &PutPrinter(const std::string &name, const std::string &driver, const std::string &port);
// A printer-data value of type REG_SZ (ANSI bytes with their zero) under
// `key` ("" for the plain printer data, "DsUser" for the keyed copy).
void PutPrinterString(winsim::Printer &p, const std::string &key, const std::string &value,
                      const std::string &text);
// A driver of another maker, with its one file in the version directory.
void PutOtherDriver(const std::string &name, const std::string &file);
// Replaces the monitor file in the system directory by one of build `build`
// (-1: without a version resource).
void PutMonitorFileBuild(int build);

}  // namespace mrvtest
