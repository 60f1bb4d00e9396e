// Shared set-up for the tests of the installer's spooler layer: a fresh
// machine with a run context, the product's monitor and driver placed as
// the spooler would hold them, and the positions of calls for faults.
#pragma once

#include <string>

#include "app/log.h"
#include "support/run_context.h"
#include "support/scenario.h"

namespace spooltest {

const char kSystemDir[] = "C:\\Windows\\System32";
const char kVersionDir[] = "C:\\Windows\\System32\\spool\\drivers\\x64\\3";

class SpoolTest : public mrvtest::ContextTest {
 protected:
  // A registered, loaded monitor with its DLL's file (build 2563) in the
  // system directory.
  static void AddMonitor(const std::string &name, const std::string &dll = "gwrmon64.dll") {
    mrvtest::PutMonitorFileBuild(2563, dll);
    mrvtest::PutMonitor(name, dll);
  }

  // The product as installed: monitor, driver.
  static void InstallProduct() {
    AddMonitor("Morvalente:");
    mrvtest::PutDriver("Morvalente printer");
  }

  // The n-th call of `call` from now on (1-based), for fault injection.
  static uint32_t NextCall(const std::string &call, uint32_t later = 1) {
    return winsim::P().callCounts[call] + later;
  }
};

}  // namespace spooltest
