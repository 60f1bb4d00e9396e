// Machines for the benchmarks and the measuring programs: the product
// installed, then many printers of which a tenth are the product's.
#pragma once

#include <cstdint>
#include <string>

#include "winsim/winsim.h"

namespace mrvbench {

// The driver and port the other printers use.
extern const char kOtherDriver[];

// A fresh machine in `dir` on which "install.exe in" has run once: monitor,
// driver, the printer "Morvalente" and the tray program installed. Returns
// false when that run did not end with exit code 1.
bool InstallProduct(const std::string &dir);

// InstallProduct, then the printer "Morvalente" removed again and another
// driver (kOtherDriver) added for the other printers.
bool PrepareInstalledMachine(const std::string &dir);

// Adds `printers` printers to the current machine: every tenth one is the
// product's ("Morvalente NNNNN" on "Morvalente:", with a settings name,
// comment, location and a settings key holding "deleted"); the others use
// another driver on "LPT1:". The first product printer is made the default.
void AddPrinters(int printers);

// Number of the machine's printers that use the product's driver.
int ProductPrinterCount();

// Runs one command on the current machine as a new process, without the
// Shift key. Returns the exit code; *waitedMs gets the virtual waiting time.
unsigned Run(const std::u16string &commandLine, uint64_t *waitedMs = nullptr);

}  // namespace mrvbench
