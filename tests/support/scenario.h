// Whole commands on prepared machines: the exit code, the complete run log
// and the virtual time the run waited.
#pragma once

#include <string>

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

}  // namespace mrvtest
