// Shared set-up for the tests of the installer's spooler layer: a fresh
// machine with a run context, and helpers that place monitors, drivers and
// printers on the machine as the spooler would hold them.
#pragma once

#include <string>

#include "app/log.h"
#include "support/run_context.h"

namespace spooltest {

const char kSystemDir[] = "C:\\Windows\\System32";
const char kVersionDir[] = "C:\\Windows\\System32\\spool\\drivers\\x64\\3";

class SpoolTest : public mrvtest::ContextTest {
 protected:
  // A registered monitor with its DLL in the system directory, loaded.
  static void AddMonitor(const std::string &name, const std::string &dll = "gwrmon64.dll") {
    winsim::WriteHostFile(std::string(kSystemDir) + "\\" + dll, winsim::MakeComponentFile(dll, 2563));
    winsim::Monitor m;
    m.name = name;
    m.environment = "Windows x64";
    m.dll = dll;
    m.ports = {name};
    m.loaded = true;
    winsim::M().spooler.monitors.push_back(m);
  }

  static void AddDriver(const std::string &name, const std::string &env = "Windows x64",
                        const std::string &driverFile = "gwrdrv64.dll") {
    winsim::Driver d;
    d.name = name;
    d.environment = env;
    d.driverPath = std::string(kVersionDir) + "\\" + driverFile;
    d.dataFile = d.driverPath;
    d.configFile = std::string(kVersionDir) + "\\gwrui64.dll";
    winsim::M().spooler.drivers.push_back(d);
  }

  static winsim::Printer &AddPrinter(const std::string &name,
                                     const std::string &driver = "Morvalente printer",
                                     const std::string &port = "Morvalente:") {
    winsim::Printer p;
    p.name = name;
    p.driverName = driver;
    p.portName = port;
    winsim::M().spooler.printers.push_back(p);
    return winsim::M().spooler.printers.back();
  }

  // Sets a printer-data value of the printer as ANSI bytes (with the zero).
  static void SetData(winsim::Printer &p, const std::string &key, const std::string &value, DWORD type,
                      const std::string &bytes) {
    winsim::PrinterDataValue v;
    v.name = value;
    v.type = type;
    v.data.assign(bytes.begin(), bytes.end());
    p.data[winsim::Lower(key)][winsim::Lower(value)] = v;
  }

  // The product as installed: monitor, driver.
  static void InstallProduct() {
    AddMonitor("Morvalente:");
    AddDriver("Morvalente printer");
  }

  static winsim::Printer *FindPrinter(const std::string &name) {
    for (auto &p : winsim::M().spooler.printers)
      if (p.name == name) return &p;
    return nullptr;
  }

  // The n-th call of `call` from now on (1-based), for fault injection.
  static uint32_t NextCall(const std::string &call, uint32_t later = 1) {
    return winsim::P().callCounts[call] + later;
  }
};

}  // namespace spooltest
