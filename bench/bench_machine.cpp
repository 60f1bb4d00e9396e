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
  mrvtest::PutOtherDriver(kOtherDriver, "gentext.dll");
  return true;
}

void AddPrinters(int printers) {
  auto &list = winsim::M().spooler.printers;
  list.reserve(list.size() + static_cast<size_t>(printers));
  for (int i = 0; i < printers; ++i) {
    if (i % 10 != 0) {
      mrvtest::PutPrinter(Numbered("Office printer ", i), kOtherDriver, "LPT1:");
      continue;
    }
    std::string settings = Numbered("mrv", i);
    winsim::Printer &p = mrvtest::PutPrinter(Numbered("Morvalente ", i), kProductDriver, "Morvalente:");
    p.comment = "Printer of floor " + std::to_string(i % 7);
    p.location = "Building " + std::to_string(i % 3);
    mrvtest::PutPrinterString(p, "", "SubKey", settings);
    mrvtest::PutPrinterString(p, "DsUser", "SubKey", settings);
    std::vector<uint8_t> one = {1, 0, 0, 0};
    winsim::SetRegRaw(kSettingsKey + settings, "deleted", REG_DWORD, one);
    if (winsim::M().spooler.defaultPrinter.empty()) winsim::M().spooler.defaultPrinter = p.name;
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
