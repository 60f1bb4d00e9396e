// The failures the sweep found, one row each: the failing call picked by
// where it stands in the run without fault, the rules of the sweep, and what
// the fix is about.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

#include "sweep/sweep.h"

namespace {

using sweep::Bench;
using sweep::Outcome;

bool HasCall(const Outcome &o, const std::string &call, const std::string &args) {
  for (auto &e : o.journal)
    if (e.call == call && e.args == args) return true;
  return false;
}

bool Logged(const Outcome &o, const std::string &text) {
  return o.log.find(text) != std::string::npos;
}

bool PrinterThere(const Outcome &o, const std::string &name) {
  return o.after.printers.count(name) != 0;
}

struct Row {
  const char *name;
  const char *scenario;
  const char *call;
  DWORD error;
  // The failing call: the first one with these arguments (any when empty)
  // after the first call of `after` (from the start when empty).
  const char *args;
  const char *after;
  std::function<void(const Outcome &)> check;
};

void PrintTo(const Row &row, std::ostream *os) {
  *os << row.name;
}

const Row kRows[] = {
    {"ClosePrinter refused by the spooler still frees the handle", "in", "ClosePrinter",
     RPC_S_SERVER_UNAVAILABLE, "", "",
     [](const Outcome &o) {
       EXPECT_EQ(o.exitCode, 1u);
       EXPECT_TRUE(o.leaks.empty());
     }},
    {"a printer whose settings cannot be read is kept, not lost", "reinstall", "OpenPrinterW",
     RPC_S_SERVER_UNAVAILABLE, "Morvalente access 0", "",
     [](const Outcome &o) {
       EXPECT_TRUE(PrinterThere(o, "Morvalente"));
       EXPECT_TRUE(PrinterThere(o, "Morvalente Invoices"));
       EXPECT_TRUE(Logged(o, "Printer Morvalente is kept: its settings could not be read"));
       EXPECT_EQ(o.exitCode, 100u) << "the driver it still uses cannot be removed";
     }},
    {"a printer that cannot be remembered for lack of memory is kept", "reinstall", "GlobalAlloc",
     ERROR_NOT_ENOUGH_MEMORY, "24", "GetPrinterDataA",
     [](const Outcome &o) {
       EXPECT_TRUE(PrinterThere(o, "Morvalente"));
       EXPECT_TRUE(PrinterThere(o, "Morvalente Invoices"));
       EXPECT_EQ(o.exitCode, 100u);
     }},
    {"a printer whose only settings name the spooler fails to read is kept", "reinstall_plain",
     "GetPrinterDataA", RPC_S_SERVER_UNAVAILABLE, "", "",
     [](const Outcome &o) {
       EXPECT_TRUE(PrinterThere(o, "Morvalente"));
       EXPECT_TRUE(Logged(o, "Printer Morvalente is kept: its settings could not be read"));
       EXPECT_EQ(o.exitCode, 100u);
     }},
    {"an uninstall whose driver list failed looks again and removes the driver", "un", "EnumPrinterDriversW",
     RPC_S_SERVER_UNAVAILABLE, "", "",
     [](const Outcome &o) {
       EXPECT_FALSE(o.after.driver);
       EXPECT_EQ(o.exitCode, 2u);
     }},
    {"an uninstall without memory for the driver list looks again", "un", "GlobalAlloc",
     ERROR_NOT_ENOUGH_MEMORY, "", "EnumPrinterDriversW",
     [](const Outcome &o) {
       EXPECT_FALSE(o.after.driver);
       EXPECT_EQ(o.exitCode, 2u);
     }},
    {"a system directory that cannot be kept is error 7, and the monitor file is not named without it", "un",
     "HeapAlloc", ERROR_NOT_ENOUGH_MEMORY, "", "GetSystemDirectoryW",
     [](const Outcome &o) {
       EXPECT_TRUE(Logged(o, "Error(7): Can`t retrieve system directory."));
       EXPECT_FALSE(HasCall(o, "DeleteFileW", "gwrmon64.dll")) << "a file of the current directory";
       EXPECT_TRUE(o.after.monitorFile);
       EXPECT_EQ(o.exitCode, 100u);
     }},
    {"a monitor path cut short for lack of memory is neither deleted nor scheduled", "un", "HeapReAlloc",
     ERROR_NOT_ENOUGH_MEMORY, "136", "DeletePrinterDriverExW",
     [](const Outcome &o) {
       EXPECT_FALSE(HasCall(o, "DeleteFileW", "C:\\Windows\\System32\\"));
       EXPECT_EQ(o.after.monitorFilePending, false);
       EXPECT_TRUE(Logged(o, "Error(12): Can`t remove the port monitor 'Morvalente:'"));
       EXPECT_EQ(o.exitCode, 100u);
     }},
    {"without its own directory the installer copies nothing from the current one", "in",
     "GetModuleFileNameW", ERROR_NOT_ENOUGH_MEMORY, "", "",
     [](const Outcome &o) {
       EXPECT_FALSE(HasCall(o, "CreateFileW", "gwrdrv64.dll"));
       EXPECT_FALSE(HasCall(o, "CreateFileW", "gwrmon64.dll"));
       EXPECT_TRUE(Logged(o, "Error(10): Cant't open source file: gwrdrv64.dll"));
       EXPECT_EQ(o.exitCode, 100u);
       // Nor a tray program by its bare name along the search path.
       for (auto &e : o.journal) EXPECT_NE(e.call, "CreateProcessW") << e.args;
       EXPECT_FALSE(o.after.runValue);
     }},
    {"without the driver directory the driver files go nowhere", "in", "GetPrinterDriverDirectoryW",
     RPC_S_SERVER_UNAVAILABLE, "", "",
     [](const Outcome &o) {
       EXPECT_FALSE(HasCall(o, "CreateFileW", "gwrdrv64.dll"));
       EXPECT_TRUE(Logged(o, "Error(9): Cant't open destination file: gwrdrv64.dll"));
       EXPECT_EQ(o.exitCode, 100u);
     }},
    {"a command line that cannot be split names no command", "in", "CommandLineToArgvW",
     ERROR_NOT_ENOUGH_MEMORY, "", "",
     [](const Outcome &o) {
       EXPECT_EQ(o.exitCode, 6u);
       EXPECT_EQ(o.journal.size(), 1u);
     }},
};

class SweepRegression : public ::testing::TestWithParam<Row> {};

TEST_P(SweepRegression, KeepsTheRules) {
  const Row &row = GetParam();
  const sweep::Scenario *scenario = sweep::FindScenario(row.scenario);
  ASSERT_NE(scenario, nullptr);
  Bench bench(*scenario);
  Outcome baseline = bench.Execute();
  uint32_t k = sweep::FindPosition(baseline.journal, row.call, row.args, row.after);
  ASSERT_GT(k, 0u) << "no " << row.call << "(" << row.args << ") after " << row.after;
  Outcome faulted = bench.Execute(row.call, row.error, k);
  sweep::Finding f = sweep::Check(*scenario, baseline, faulted, row.call, row.error, k);
  EXPECT_TRUE(f.broken.empty()) << f.Describe() << "\n" << faulted.log;
  row.check(faulted);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SweepRegression, ::testing::ValuesIn(kRows), [](const ::testing::TestParamInfo<Row> &i) {
      std::string n;
      for (const char *p = i.param.name; *p != 0; ++p)
        n += ((*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9')) ? *p : '_';
      return n;
    });

}  // namespace
