// Whole install runs on prepared machines: the exit code, the complete log,
// the machine afterwards and the exact time the run waited.
#include "scenario/scenario_checks.h"

namespace {

using mrvtest::Calls;
using mrvtest::MachineSummary;
using mrvtest::PutOtherDriver;
using mrvtest::PutPrinter;
using mrvtest::PutPrinterString;
using mrvtest::Waits;
using scenario::RunAndCheck;
using Strings = std::vector<std::string>;
using namespace scenario;

const char kTrayCommandLine[] = "\"C:\\Program Files\\Morvalente\\mrvtray.exe\"";

// The machine after an install with the one printer "Morvalente" and the
// tray program running.
std::string InstalledMachine(int monitorBuild = 2563) {
  return kMorvalentePrinter + "default none\n" + kProductMonitor + kProductDriver + kInstallerFiles +
         kTrayFile + MonitorFile(monitorBuild) + kDriverFiles + kRunValue + kTrayRunning + kTrayHold;
}

class InstallScenario : public mrvtest::MachineTest {
 protected:
  static winsim::Service &Spooler() {
    for (auto &s : winsim::M().services)
      if (s.name == "spooler") return s;
    ADD_FAILURE() << "no spooler service";
    return winsim::M().services.front();
  }
};

TEST_F(InstallScenario, FreshInstall) {
  RunAndCheck("fresh_install", u"install.exe in", 1, 1000);
  // 1000 ms: StopTrayProgram finds no Run value to read and pauses; nothing
  // else waits (the spooler runs, no file is locked).
  EXPECT_EQ(Waits(), Strings{"Sleep 1000"});
  EXPECT_EQ(MachineSummary(), InstalledMachine());
  ASSERT_EQ(Calls("CreateProcessW").size(), 1u);
  EXPECT_EQ(Calls("CreateProcessW")[0].rfind(kTrayCommandLine, 0), 0u) << Calls("CreateProcessW")[0];
}

TEST_F(InstallScenario, FreshInstallWithoutTray) {
  // The same sequence and log as "in"; only the tray program's registration
  // and start are left out.
  RunAndCheck("fresh_install", u"install.exe in_notray", 1, 1000);
  EXPECT_EQ(Waits(), Strings{"Sleep 1000"});
  EXPECT_EQ(MachineSummary(), kMorvalentePrinter + "default none\n" + kProductMonitor + kProductDriver +
                                  kInstallerFiles + kTrayFile + MonitorFile(2563) + kDriverFiles + kNoTray);
  EXPECT_EQ(winsim::CallCount("CreateProcessW"), 0u);
  EXPECT_EQ(winsim::CallCount("RegSetValueExW"), 0u);
}

TEST_F(InstallScenario, ReinstallKeepsPrinters) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  // Three printers of the product, two with settings names, one of those the
  // default; a printer of another driver listed first.
  auto &ps = winsim::M().spooler.printers;
  ps.clear();
  PutOtherDriver("Generic Laser", "genlaser.dll");
  PutPrinter("Office Laser", "Generic Laser", "LPT1:").comment = "Front desk";
  winsim::Printer &alpha = PutPrinter("Alpha", "Morvalente printer", "Morvalente:");
  alpha.comment = "Second floor";
  alpha.location = "Room 204";
  PutPrinterString(alpha, "", "SubKey", "Alpha settings");
  PutPrinterString(alpha, "DsUser", "SubKey", "Alpha settings");
  PutPrinter("Morvalente", "Morvalente printer", "Morvalente:");  // no settings name
  winsim::Printer &beta = PutPrinter("Beta", "Morvalente printer", "Morvalente:");
  beta.comment = "Invoices";
  beta.location = "Accounting";
  PutPrinterString(beta, "DsUser", "SubKey", "beta");  // only the copy under "DsUser"
  winsim::M().spooler.defaultPrinter = "Beta";
  const std::string root = "HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\";
  winsim::SetRegRaw(root + "Alpha settings", "deleted", REG_DWORD, {1, 0, 0, 0});
  winsim::SetRegRaw(root + "Alpha settings", "Resolution", REG_DWORD, {0x58, 2, 0, 0});
  winsim::SetRegRaw(root + "beta", "deleted", REG_DWORD, {1, 0, 0, 0});
  winsim::SetRegRaw(root + "gone", "deleted", REG_DWORD, {1, 0, 0, 0});

  RunAndCheck("reinstall_keeps_printers", u"install.exe in", 1, 0);
  // 0 ms: the tray program leaves at once on the request, so the wait on its
  // mutex returns at once; the Run value is there (no pause); the monitor
  // of build 2563 is kept, nothing is locked, the spooler is not restarted.
  EXPECT_EQ(Waits(), Strings{"WaitForSingleObject mutex 5000 -> signalled"});
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u);
  // Re-created in reverse order (Beta, then Alpha) with settings names in
  // both places, comments and locations; Beta the default again; the
  // printer without a settings name is gone; "Office Laser" untouched; only
  // the "deleted" values of the re-created printers' settings keys cleared.
  EXPECT_EQ(
      MachineSummary(),
      "printer \"Office Laser\" port \"LPT1:\" driver \"Generic Laser\" comment \"Front desk\" location "
      "\"\"\n"
      "printer \"Beta\" port \"Morvalente:\" driver \"Morvalente printer\" comment \"Invoices\" location "
      "\"Accounting\" SubKey=\"beta\" dsuser\\SubKey=\"beta\"\n"
      "printer \"Alpha\" port \"Morvalente:\" driver \"Morvalente printer\" comment \"Second floor\" "
      "location "
      "\"Room 204\" SubKey=\"Alpha settings\" dsuser\\SubKey=\"Alpha settings\"\n"
      "default \"Beta\"\n" +
          kProductMonitor + kOtherDriver + kProductDriver + kInstallerFiles + kTrayFile + MonitorFile(2563) +
          kOtherDriverFile + kDriverFiles + kRunValue + kTrayRunning +
          "key HKCU\\Software\\Garrowe Software KFT\n"
          "key HKCU\\Software\\Garrowe Software KFT\\Morvalente\n"
          "key HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\n"
          "key HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\Alpha settings Resolution=600\n"
          "key HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\beta\n"
          "key HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\gone deleted=1\n" +
          kTrayHold);
}

TEST_F(InstallScenario, RepairWhileTrayRunsFromTheInstalledPath) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  ASSERT_TRUE(winsim::M().tray.running);
  RunAndCheck("repair", u"install.exe in", 1, 0);
  // 0 ms: one exit request, the tray program leaves at once.
  EXPECT_EQ(Waits(), Strings{"WaitForSingleObject mutex 5000 -> signalled"});
  EXPECT_EQ(Calls("PostMessageW"), Strings{"0xa0132 0x402 0x0 0x0 -> tray exits"});
  // Its file is the one the install starts again: not deleted, and running
  // again after the install.
  EXPECT_EQ(winsim::CallCount("DeleteFileW"), 3u) << "only the three driver copies";
  for (auto &c : Calls("DeleteFileW")) EXPECT_EQ(c.find("mrvtray.exe"), std::string::npos) << c;
  ASSERT_EQ(Calls("CreateProcessW").size(), 1u);
  EXPECT_NE(Calls("CreateProcessW")[0].find("(tray program)"), std::string::npos)
      << Calls("CreateProcessW")[0];
  EXPECT_EQ(MachineSummary(), InstalledMachine());
}

TEST_F(InstallScenario, RepairWhileTrayIgnoresTheRequest) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  winsim::M().tray.behaviour = "ignore";
  RunAndCheck("repair", u"install.exe in", 1, 105000);
  // 105000 ms: 20 passes, each posting the request and waiting 5000 ms on
  // the mutex in vain, then one last wait of 5000 ms.
  Strings waits(21, "WaitForSingleObject mutex 5000 -> timeout");
  EXPECT_EQ(Waits(), waits);
  EXPECT_EQ(winsim::CallCount("PostMessageW"), 20u);
  // The old instance still runs; the one the install starts leaves at once.
  ASSERT_EQ(Calls("CreateProcessW").size(), 1u);
  EXPECT_EQ(Calls("CreateProcessW")[0].find("(tray program)"), std::string::npos)
      << Calls("CreateProcessW")[0];
  EXPECT_EQ(MachineSummary(), InstalledMachine());
}

struct MonitorBuildRow {
  const char *name;  // also the expected log's name
  int build;         // build of the monitor file in the system directory; -1: no version resource
  bool registered;   // the monitor "Morvalente:" is registered with that file
  bool addMonitor;   // the install runs AddMonitor
  bool copy;         // AddMonitor copies the monitor file
  int buildAfter;    // build of the monitor file afterwards
};

TEST_F(InstallScenario, InstalledMonitorBuild) {
  const MonitorBuildRow rows[] = {
      {"monitor_2451_kept", 2451, true, false, false, 2451},
      {"monitor_2563_kept", 2563, true, false, false, 2563},
      {"monitor_file_2500_not_registered", 2500, false, true, false, 2500},
      {"monitor_2450_replaced", 2450, true, true, true, 2563},
      {"monitor_2564_replaced", 2564, true, true, true, 2563},
      {"monitor_unversioned_replaced", -1, true, true, true, 2563},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    mrvtest::PutMonitorFileBuild(row.build);
    if (row.registered) mrvtest::PutMonitor();
    RunAndCheck(row.name, u"install.exe in", 1, 1000);
    // 1000 ms: the pause for the missing Run value; nothing else.
    EXPECT_EQ(Waits(), Strings{"Sleep 1000"});
    EXPECT_EQ(winsim::CallCount("AddMonitorW"), row.addMonitor ? 1u : 0u);
    EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), row.registered && row.addMonitor ? 1u : 0u);
    size_t monitorCopies = 0;
    for (auto &c : Calls("CreateFileW"))
      if (c.rfind("C:\\Windows\\System32\\gwrmon64.dll -> ", 0) == 0) ++monitorCopies;
    EXPECT_EQ(monitorCopies, row.copy ? 1u : 0u);
    EXPECT_EQ(MachineSummary(), InstalledMachine(row.buildAfter));
  }
}

TEST_F(InstallScenario, MonitorDllStaysLoadedUntilSpoolerStops) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  mrvtest::PutMonitorFileBuild(2450);
  winsim::M().spooler.monitorDllStaysLoaded = true;
  Spooler().stopDelayMs = 400;
  Spooler().startDelayMs = 600;
  RunAndCheck("monitor_dll_stays_loaded", u"install.exe in", 1, 1000);
  // 1000 ms: the restart after UnInstall, which frees the monitor file:
  // 2 polls of 200 ms until the spooler has stopped (400 ms), 3 until it
  // runs again (600 ms). The tray program leaves at once.
  EXPECT_EQ(Waits(), (Strings{"WaitForSingleObject mutex 5000 -> signalled", "Sleep 200", "Sleep 200",
                              "Sleep 200", "Sleep 200", "Sleep 200"}));
  EXPECT_EQ(winsim::CallCount("ControlService"), 1u);
  // The old file went during the restart; the new one was copied and registered.
  EXPECT_EQ(MachineSummary(), InstalledMachine());
}

TEST_F(InstallScenario, DriverCopyLockedForGood) {
  // Another program holds the installer's copy of the help file in the
  // driver directory: it can be written and read, never deleted.
  winsim::FileHold hold;
  hold.path = "C:\\Windows\\System32\\spool\\drivers\\x64\\gwrhelp.chm";
  hold.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  hold.holder = "help indexer";
  winsim::M().holds.push_back(hold);
  RunAndCheck("driver_copy_locked", u"install.exe in", 101, 1000);
  // 1000 ms: the missing Run value; the spooler restart of the last retry
  // is immediate on this machine.
  EXPECT_EQ(Waits(), Strings{"Sleep 1000"});
  EXPECT_EQ(winsim::CallCount("ControlService"), 1u);
  EXPECT_EQ(Calls("MoveFileExW"),
            Strings{"C:\\Windows\\System32\\spool\\drivers\\x64\\gwrhelp.chm ->  4 -> "});
  const std::string held = "file C:\\Windows\\System32\\spool\\drivers\\x64\\gwrhelp.chm\n";
  EXPECT_EQ(MachineSummary(),
            kMorvalentePrinter + "default none\n" + kProductMonitor + kProductDriver + kInstallerFiles +
                kTrayFile + MonitorFile(2563) + kDriverFiles + held + kRunValue + kTrayRunning +
                "pending \\??\\C:\\Windows\\System32\\spool\\drivers\\x64\\gwrhelp.chm -> \"\"\n" +
                kTrayHold +
                "held C:\\Windows\\System32\\spool\\drivers\\x64\\gwrhelp.chm by help indexer "
                "share 3\n");
  // The restart deletes it; the spooler's own copies stay.
  winsim::Reboot();
  EXPECT_EQ(MachineSummary(), kMorvalentePrinter + "default none\n" + kProductMonitor + kProductDriver +
                                  kInstallerFiles + kTrayFile + MonitorFile(2563) + kDriverFiles + kRunValue +
                                  "tray not running\n");
}

TEST_F(InstallScenario, MonitorInUseByPrinterOfAnotherDriver) {
  ASSERT_TRUE(mrvtest::InstallFirst());
  mrvtest::PutMonitorFileBuild(2450);
  PutOtherDriver("Generic Laser", "genlaser.dll");
  PutPrinter("Shared Port", "Generic Laser", "LPT1:,Morvalente:");
  RunAndCheck("monitor_in_use", u"install.exe in", 1, 0);
  // 0 ms: the second removal succeeds, so the spooler is not restarted.
  EXPECT_EQ(Waits(), Strings{"WaitForSingleObject mutex 5000 -> signalled"});
  EXPECT_EQ(winsim::CallCount("ControlService"), 0u);
  EXPECT_EQ(winsim::CallCount("DeleteMonitorW"), 2u);
  // Parked on "file:" while the monitor was away, its port given back.
  size_t portChanges = 0;
  for (auto &c : Calls("SetPrinterW"))
    if (c.find(" level 2 ") != std::string::npos) ++portChanges;
  EXPECT_EQ(portChanges, 2u);
  EXPECT_EQ(MachineSummary(),
            "printer \"Shared Port\" port \"LPT1:,Morvalente:\" driver \"Generic Laser\" comment \"\" "
            "location \"\"\n" +
                kMorvalentePrinter + "default none\n" + kProductMonitor + kOtherDriver + kProductDriver +
                kInstallerFiles + kTrayFile + MonitorFile(2563) + kOtherDriverFile + kDriverFiles +
                kRunValue + kTrayRunning + kTrayHold);
}

}  // namespace
