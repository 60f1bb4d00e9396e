// The setup program's questions on machines after an install: "onChkDrv",
// "onInit" and "def.set", each a whole command with its exit code.
#include <functional>

#include "scenario/scenario_checks.h"

namespace {

using mrvtest::FindPrinter;
using mrvtest::MachineSummary;
using mrvtest::PutOtherDriver;
using mrvtest::PutPrinter;
using scenario::QueryAndCheck;

const char kMonitorFile[] = "C:\\Windows\\System32\\gwrmon64.dll";
const uint32_t kPendingDeletion = 0x4;  // printer status: deleted, waiting for its jobs

struct QueryRow {
  const char *name;
  int driverBuild;                // build of the driver file the install placed; -1: no version resource
  std::function<void()> prepare;  // changes after the install
  unsigned chkDrv;                // exit code of "onChkDrv"
  unsigned onInit;                // exit code of "onInit"
  uint64_t onInitWaitedMs;
  std::string setDefaultArg;  // what "def.set" passes to the set-default call; "" when it makes no call
  std::string defaultAfter;   // the default printer after "def.set"; "" for none
};

class QueryScenario : public mrvtest::MachineTest {};

TEST_F(QueryScenario, QuestionsAfterAnInstall) {
  const QueryRow rows[] = {
      {"no printer of the product", 2563,
       [] {
         winsim::M().spooler.printers.clear();
         PutOtherDriver("Generic Laser", "genlaser.dll");
         PutPrinter("Office Laser", "Generic Laser", "LPT1:");
         winsim::M().spooler.defaultPrinter = "Office Laser";
       },
       3, 102, 0, "", "Office Laser"},
      {"two printers of the product, the first unreachable", 2563,
       [] {
         // Deleted while it still had a job: listed, but it takes no handles.
         FindPrinter("Morvalente")->status = kPendingDeletion;
         FindPrinter("Morvalente")->cJobs = 1;
         PutPrinter("Second", "Morvalente printer", "Morvalente:");
         winsim::M().spooler.defaultPrinter = "Second";
       },
       3, 3, 0, "Morvalente", "Second"},
      {"driver build 2450", 2450, [] {}, 3, 102, 0, "Morvalente", "Morvalente"},
      {"driver build 2451", 2451, [] {}, 103, 102, 0, "Morvalente", "Morvalente"},
      {"driver without a version resource", -1, [] {}, 3, 102, 0, "Morvalente", "Morvalente"},
      {"default on the product's driver", 2563, [] { winsim::M().spooler.defaultPrinter = "Morvalente"; },
       103, 3, 0, "Morvalente", "Morvalente"},
      {"default on another driver", 2563,
       [] {
         PutOtherDriver("Generic Laser", "genlaser.dll");
         PutPrinter("Office Laser", "Generic Laser", "LPT1:");
         winsim::M().spooler.defaultPrinter = "Office Laser";
       },
       103, 102, 0, "Morvalente", "Morvalente"},
      {"printer named like the product on another driver", 2563,
       [] {
         auto &ps = winsim::M().spooler.printers;
         FindPrinter("Morvalente")->name = "Invoices";
         PutOtherDriver("Generic Laser", "genlaser.dll");
         winsim::Printer p;
         p.name = "Morvalente";
         p.driverName = "Generic Laser";
         p.portName = "LPT1:";
         ps.insert(ps.begin(), p);
         winsim::M().spooler.defaultPrinter = "Morvalente";
       },
       103, 102, 0, "Invoices", "Invoices"},
      {"pending deletion of the monitor file, held open", 2563,
       [] {
         winsim::SetRegMultiSz("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                               "PendingFileRenameOperations", {std::string("\\??\\") + kMonitorFile, ""});
         winsim::FileHold hold;
         hold.path = kMonitorFile;
         hold.share = FILE_SHARE_READ;
         hold.holder = "backup agent";
         winsim::M().holds.push_back(hold);
         for (auto &s : winsim::M().services) {
           s.stopDelayMs = 400;
           s.startDelayMs = 600;
         }
       },
       // Two spooler restarts of 400 ms to stop and 600 ms to start.
       103, 200, 2000, "Morvalente", "Morvalente"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    options_.driverBuild = row.driverBuild;
    winsim::NewMachine(dir_, options_);
    ASSERT_TRUE(mrvtest::InstallFirst());
    row.prepare();
    const std::string before = MachineSummary();

    QueryAndCheck(std::string(row.name) + ": onChkDrv", u"install.exe onChkDrv", row.chkDrv, 0);
    EXPECT_EQ(MachineSummary(), before) << "onChkDrv changes nothing";

    QueryAndCheck(std::string(row.name) + ": onInit", u"install.exe onInit", row.onInit, row.onInitWaitedMs);
    EXPECT_EQ(MachineSummary(), before) << "onInit changes nothing";

    QueryAndCheck(std::string(row.name) + ": def.set", u"install.exe def.set", 4, 0);
    EXPECT_EQ(
        mrvtest::CallArgs("SpoolSetDefaultPrinterW"),
        row.setDefaultArg.empty() ? std::vector<std::string>{} : std::vector<std::string>{row.setDefaultArg});
    EXPECT_EQ(winsim::M().spooler.defaultPrinter, row.defaultAfter);
  }
}

}  // namespace
