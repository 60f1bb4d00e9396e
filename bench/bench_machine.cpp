#include "bench_machine.h"

#include <cstdio>

#include "support/scenario.h"

namespace mrvbench {

const char kOtherDriver[] = "Generic / Text Only";

namespace {

const char kProductDriver[] = "Morvalente printer";
const char kSettingsKey[] = "HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\";

std::string Numbered(const char *prefix, int n) {
  char text[64];
  std::snprintf(text, sizeof text, "%s%05d", prefix, n);
  return text;
}

winsim::PrinterDataValue SzValue(const std::string &name, const std::string &text) {
  winsim::PrinterDataValue v;
  v.name = name;
  v.type = REG_SZ;
  v.data.assign(text.begin(), text.end());
  v.data.push_back(0);
  return v;
}

}  // namespace

bool InstallProduct(const std::string &dir) {
  winsim::NewMachine(dir);
  return Run(u"install.exe in") == 1;
}

bool PrepareInstalledMachine(const std::string &dir) {
  if (!InstallProduct(dir)) return false;
  auto &printers = winsim::M().spooler.printers;
  for (size_t i = 0; i < printers.size(); ++i)
    if (printers[i].name == "Morvalente") printers.erase(printers.begin() + static_cast<long>(i--));
  winsim::Driver other;
  other.name = kOtherDriver;
  other.environment = "Windows x64";
  other.driverPath = "C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gentext.dll";
  other.dataFile = other.driverPath;
  other.configFile = other.driverPath;
  winsim::M().spooler.drivers.push_back(other);
  return true;
}

void AddPrinters(int printers) {
  auto &list = winsim::M().spooler.printers;
  list.reserve(list.size() + static_cast<size_t>(printers));
  for (int i = 0; i < printers; ++i) {
    winsim::Printer p;
    if (i % 10 == 0) {
      std::string settings = Numbered("mrv", i);
      p.name = Numbered("Morvalente ", i);
      p.driverName = kProductDriver;
      p.portName = "Morvalente:";
      p.comment = "Printer of floor " + std::to_string(i % 7);
      p.location = "Building " + std::to_string(i % 3);
      p.data[""]["subkey"] = SzValue("SubKey", settings);
      p.data["dsuser"]["subkey"] = SzValue("SubKey", settings);
      std::vector<uint8_t> one = {1, 0, 0, 0};
      winsim::SetRegRaw(kSettingsKey + settings, "deleted", REG_DWORD, one);
      if (winsim::M().spooler.defaultPrinter.empty()) winsim::M().spooler.defaultPrinter = p.name;
    } else {
      p.name = Numbered("Office printer ", i);
      p.driverName = kOtherDriver;
      p.portName = "LPT1:";
    }
    list.push_back(std::move(p));
  }
}

int ProductPrinterCount() {
  int n = 0;
  for (auto &p : winsim::M().spooler.printers)
    if (p.driverName == kProductDriver) ++n;
  return n;
}

unsigned Run(const std::u16string &commandLine, uint64_t *waitedMs) {
  mrvtest::RunResult r = mrvtest::RunCommand(commandLine, false);
  if (waitedMs != nullptr) *waitedMs = r.waitedMs;
  return r.exitCode;
}

}  // namespace mrvbench
