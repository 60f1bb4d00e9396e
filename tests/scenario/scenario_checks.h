// Shared checks of the scenario tests: one run of a whole command with its
// exit code, its log against the expected-output file, its waiting time and
// its accounting.
#pragma once

#include <string>
#include <vector>

#include "support/scenario.h"

namespace scenario {

// Lines of mrvtest::MachineSummary() that many scenarios share.
const std::string kProductDriver =
    "driver \"Morvalente printer\" Windows x64 v3\n"
    "  files C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrdrv64.dll"
    " | C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrdrv64.dll"
    " | C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrui64.dll"
    " | C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrhelp.chm\n"
    "  maker \"Garrowe Software Kft.\" provider \"Garrowe Software Kft.\""
    " url \"http://www.garrowe-software.example/morvalente\"\n";
const std::string kOtherDriver =
    "driver \"Generic Laser\" Windows x64 v3\n"
    "  files C:\\Windows\\System32\\spool\\drivers\\x64\\3\\genlaser.dll"
    " | C:\\Windows\\System32\\spool\\drivers\\x64\\3\\genlaser.dll"
    " | C:\\Windows\\System32\\spool\\drivers\\x64\\3\\genlaser.dll | \n";
const std::string kProductMonitor =
    "monitor \"Morvalente:\" Windows x64 dll gwrmon64.dll ports Morvalente: loaded\n";
// The installer's own directory, untouched by every run.
const std::string kInstallerFiles =
    "file C:\\Program Files\\Morvalente\\Drivers\\gwrdrv64.dll build 2563\n"
    "file C:\\Program Files\\Morvalente\\Drivers\\gwrhelp.chm\n"
    "file C:\\Program Files\\Morvalente\\Drivers\\gwrmon64.dll build 2563\n"
    "file C:\\Program Files\\Morvalente\\Drivers\\gwrui64.dll build 2563\n";
const std::string kTrayFile = "file C:\\Program Files\\Morvalente\\mrvtray.exe build 2563\n";
const std::string kOtherDriverFile =
    "file C:\\Windows\\System32\\spool\\drivers\\x64\\3\\genlaser.dll build 100\n";
// The spooler's copies of the driver's files in the version directory.
const std::string kDriverFiles =
    "file C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrdrv64.dll build 2563\n"
    "file C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrhelp.chm\n"
    "file C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrui64.dll build 2563\n";
inline std::string MonitorFile(int build) {
  return "file C:\\Windows\\System32\\gwrmon64.dll build " + std::to_string(build) + "\n";
}
const std::string kRunValue = "run \"C:\\Program Files\\Morvalente\\mrvtray.exe\"\n";
const std::string kTrayRunning = "tray running from C:\\Program Files\\Morvalente\\mrvtray.exe\n";
const std::string kTrayHold =
    "held C:\\Program Files\\Morvalente\\mrvtray.exe by mrvtray.exe (running) share 1\n";
const std::string kNoTray = "run none\ntray not running\n";
const std::string kMorvalentePrinter =
    "printer \"Morvalente\" port \"Morvalente:\" driver \"Morvalente printer\" comment \"\" location \"\"\n";

// Runs `commandLine` and checks what every run must show: the exit code, the
// complete log against tests/scenario/expected/LOGNAME.log and the dialog's
// title, no block or handle left, and the exact virtual waiting time.
inline mrvtest::RunResult RunAndCheck(const std::string &logName, const std::u16string &commandLine,
                                      unsigned exitCode, uint64_t waitedMs) {
  mrvtest::RunResult r = mrvtest::RunCommand(commandLine);
  EXPECT_EQ(r.exitCode, exitCode) << logName;
  std::string diff = mrvtest::CompareWithExpected(logName + ".log", r.log);
  EXPECT_TRUE(diff.empty()) << diff;
  bool errors = exitCode == 100;
  EXPECT_EQ(r.title, std::string("Morvalente build 2563- Install") + (errors ? " error log!" : " log."))
      << logName;
  EXPECT_EQ(r.waitedMs, waitedMs) << logName;
  std::string leaks;
  for (auto &l : r.leaks) leaks += l + "\n";
  EXPECT_TRUE(r.leaks.empty()) << logName << " left behind:\n" << leaks;
  return r;
}

// A query command: no log, no dialog; the exit code, the waiting time and
// the accounting.
inline mrvtest::RunResult QueryAndCheck(const std::string &name, const std::u16string &commandLine,
                                        unsigned exitCode, uint64_t waitedMs) {
  mrvtest::RunResult r = mrvtest::RunCommand(commandLine);
  EXPECT_EQ(r.exitCode, exitCode) << name;
  EXPECT_TRUE(winsim::P().dialogs.empty()) << name << ": a query shows no dialog";
  EXPECT_EQ(r.waitedMs, waitedMs) << name;
  EXPECT_TRUE(r.leaks.empty()) << name << ": a block or handle was left";
  return r;
}

}  // namespace scenario
