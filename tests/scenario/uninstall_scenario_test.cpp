// Whole uninstall runs, and an uninstall followed by an install before the
// machine restarts.
#include "scenario/scenario_checks.h"

namespace {

using mrvtest::Calls;
using mrvtest::MachineSummary;
using mrvtest::PutOtherDriver;
using mrvtest::PutPrinter;
using mrvtest::Waits;
using scenario::RunAndCheck;
using Strings = std::vector<std::string>;
using namespace scenario;

const char kMonitorPath[] = "C:\\Windows\\System32\\gwrmon64.dll";

class UninstallScenario : public mrvtest::MachineTest {};

TEST_F(UninstallScenario, UninstallAfterInstall) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  RunAndCheck("uninstall", u"install.exe un", 2, 0);
  // 0 ms: the tray program leaves at once on the request and its file is
  // deleted at the first attempt; the monitor's DLL is unloaded with the
  // monitor, so nothing is locked and the spooler keeps running.
  EXPECT_EQ(Waits(), Strings{"WaitForSingleObject mutex 5000 -> signalled"});
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u);
  EXPECT_EQ(winsim::CallCount("MoveFileExW"), 0u);
  // Nothing of the product is left but the installer's own directory: no
  // printer, monitor or driver, no monitor file, no driver file, no tray
  // program (its file deleted), no Run value.
  EXPECT_EQ(MachineSummary(), "default none\n" + kInstallerFiles + kNoTray);
}

struct StuckDriverRow {
  const char *name;  // also the expected log's name
  std::u16string commandLine;
  std::string machineAfter;
};

TEST_F(UninstallScenario, DriverCannotBeRemoved) {
  const StuckDriverRow rows[] = {
      // The driver and its files stay; everything else is removed.
      {"driver_not_removed", u"install.exe un",
       "default none\n" + kProductDriver + kInstallerFiles + kDriverFiles + kNoTray},
      // The install registers the driver over the one that stayed and goes on.
      {"driver_not_removed_install", u"install.exe in",
       kMorvalentePrinter + "default none\n" + kProductMonitor + kProductDriver + kInstallerFiles +
           kTrayFile + MonitorFile(2563) + kDriverFiles + kRunValue + kTrayRunning + kTrayHold},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    ASSERT_TRUE(mrvtest::InstallFirst());
    winsim::AddFault("DeletePrinterDriverExW", ERROR_PRINTER_DRIVER_IN_USE, 1, 1, true);
    RunAndCheck(row.name, row.commandLine, 100, 0);
    // 0 ms: the tray program leaves at once; the spooler restart between the
    // two removal tries is immediate on this machine.
    EXPECT_EQ(Waits(), Strings{"WaitForSingleObject mutex 5000 -> signalled"});
    EXPECT_EQ(winsim::CallCount("DeletePrinterDriverExW"), 2u);
    EXPECT_EQ(winsim::CallCount("ControlService"), 1u);
    EXPECT_EQ(MachineSummary(), row.machineAfter);
  }
}

TEST_F(UninstallScenario, MonitorDllStaysLoadedUntilSpoolerStops) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  winsim::M().spooler.monitorDllStaysLoaded = true;
  for (auto &s : winsim::M().services) {
    s.stopDelayMs = 400;
    s.startDelayMs = 600;
  }
  RunAndCheck("uninstall_monitor_dll_stays_loaded", u"install.exe un", 2, 1000);
  // 1000 ms: the one restart of the last retry, which frees the monitor
  // file: 2 polls of 200 ms until the spooler has stopped, 3 until it runs.
  EXPECT_EQ(Waits(), (Strings{"WaitForSingleObject mutex 5000 -> signalled", "Sleep 200", "Sleep 200",
                              "Sleep 200", "Sleep 200", "Sleep 200"}));
  EXPECT_EQ(winsim::CallCount("ControlService"), 1u);
  EXPECT_EQ(winsim::CallCount("MoveFileExW"), 0u);
  EXPECT_EQ(MachineSummary(), "default none\n" + kInstallerFiles + kNoTray);
}

TEST_F(UninstallScenario, MonitorInUseByPrinterOfAnotherDriver) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  PutOtherDriver("Generic Laser", "genlaser.dll");
  PutPrinter("Shared Port", "Generic Laser", "Morvalente:");
  RunAndCheck("uninstall_monitor_in_use", u"install.exe un", 2, 0);
  // 0 ms: the second removal try succeeds without a spooler restart.
  EXPECT_EQ(Waits(), Strings{"WaitForSingleObject mutex 5000 -> signalled"});
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 2u);
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u);
  // The other printer stays, parked on "file:": its port has gone with the monitor.
  EXPECT_EQ(MachineSummary(),
            "printer \"Shared Port\" port \"file:\" driver \"Generic Laser\" comment \"\" location \"\"\n"
            "default none\n" +
                kOtherDriver + kInstallerFiles + kOtherDriverFile + kNoTray);
}

struct LockedMonitorRow {
  const char *name;
  bool letGoBeforeInstall;  // the other program lets go of the file between the two runs
};

// An uninstall whose monitor file stays locked hands it over for deletion at
// restart. An install before that restart keeps the file (a compatible
// build): neither the install's pending-deletion sweep nor the restart may
// delete it.
TEST_F(UninstallScenario, LockedMonitorThenInstallBeforeRestart) {
  const LockedMonitorRow rows[] = {
      {"held through the install", false},
      {"let go before the install", true},
  };
  const std::string heldLine = std::string("held ") + kMonitorPath + " by backup agent share 1\n";
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    ASSERT_TRUE(mrvtest::InstallFirst());
    winsim::FileHold hold;
    hold.path = kMonitorPath;
    hold.share = FILE_SHARE_READ;
    hold.holder = "backup agent";
    winsim::M().holds.push_back(hold);

    RunAndCheck("locked_monitor_uninstall", u"install.exe un", 101, 0);
    // 0 ms: the tray program leaves at once; the one spooler restart of the
    // last retry is immediate.
    EXPECT_EQ(Waits(), Strings{"WaitForSingleObject mutex 5000 -> signalled"});
    EXPECT_EQ(Calls("MoveFileExW"), Strings{std::string(kMonitorPath) + " ->  4 -> "});
    EXPECT_EQ(MachineSummary(), "default none\n" + kInstallerFiles + MonitorFile(2563) + kNoTray +
                                    "pending \\??\\" + kMonitorPath + " -> \"\"\n" + heldLine);

    if (row.letGoBeforeInstall) winsim::M().holds.clear();
    RunAndCheck("locked_monitor_install", u"install.exe in", 1, 1000);
    // 1000 ms: the uninstall removed the Run value, so StopTrayProgram pauses.
    EXPECT_EQ(Waits(), Strings{"Sleep 1000"});
    // The kept file is registered; its pending deletion is withdrawn. The
    // uninstall deleted the tray program's file, so none starts.
    const std::string installed = kMorvalentePrinter + "default none\n" + kProductMonitor + kProductDriver +
                                  kInstallerFiles + MonitorFile(2563) + kDriverFiles + kRunValue +
                                  "tray not running\n";
    EXPECT_EQ(MachineSummary(), installed + (row.letGoBeforeInstall ? "" : heldLine));

    winsim::Reboot();
    EXPECT_EQ(MachineSummary(), installed);
  }
}

}  // namespace
