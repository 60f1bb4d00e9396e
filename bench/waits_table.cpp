// The virtual waiting time of every scenario, from real runs on winsim, next
// to what the installer's fixed polls and sleeps make of that scenario by
// hand. Prints a Markdown table; the exit code is 1 when a measured figure
// differs from the expected one.
//
// The fixed waits: spooler state 200 ms per poll (50 polls), destination
// file 50 ms per attempt (100 attempts), monitor registration 50 ms between
// 5 tries, tray program 250 ms between 20 window searches or 5000 ms per
// wait on its mutex (and one more after the passes), 1000 ms when the Run
// value cannot be read, 100 ms (error 5) or 10 ms (other errors) between 10
// attempts to delete the tray program's file, 50 ms per help viewer pass.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench_machine.h"
#include "support/fixture.h"

namespace {

// A spooler that takes its time: stop 500 ms, start 700 ms.
const char kSlowSpooler[] = R"({"spoolerService": {"stopDelayMs": 500, "startDelayMs": 700}})";
const uint64_t kPoll = 200;
uint64_t Polls(uint64_t delayMs) {  // sleeps until a state change of delayMs is seen
  return (delayMs + kPoll - 1) / kPoll * kPoll;
}
const uint64_t kRestart = Polls(500) + Polls(700);  // one restart of the slow spooler
const uint64_t kRunValueMissing = 1000;
const uint64_t kTrayFileRetries = 9 * 10;  // 10 attempts, error 32 from the machine: 10 ms between

struct Scenario {
  std::string name;
  bool installed;                 // "install.exe in" has run before
  std::function<bool()> prepare;  // changes the machine; false on failure
  std::u16string command;
  uint64_t expectedMs;
  std::string why;
};

bool Apply(const char *json) {
  std::string error;
  if (winsim::ApplyJson(json, &error)) return true;
  std::fprintf(stderr, "mrv_waits: %s\n", error.c_str());
  return false;
}

bool Nothing() {
  return true;
}

std::vector<Scenario> Scenarios() {
  const std::string restart = std::to_string(kRestart);
  return {
      {"fresh install", false, Nothing, u"install.exe in", kRunValueMissing,
       "no tray program, no Run value: one pause of 1000"},
      {"fresh install, in_notray", false, Nothing, u"install.exe in_notray", kRunValueMissing,
       "as the fresh install: 1000"},
      {"reinstall (tray exits at once)", true, Nothing, u"install.exe in", 0,
       "one request, the wait ends as the mutex is released: 0"},
      {"in_notray over the product", true, Nothing, u"install.exe in_notray", 0, "as the reinstall: 0"},
      {"un over the product", true, Nothing, u"install.exe un", 0, "tray exits at once, nothing locked: 0"},
      {"un, two help viewer windows open", true,
       [] {
         winsim::M().helpWindows.push_back(winsim::HelpWindow{});
         winsim::M().helpWindows.push_back(winsim::HelpWindow{});
         return true;
       },
       u"install.exe un", 2 * 50, "one 50 ms pass per window: 2 x 50"},
      {"un, monitor file held open (exit 101)", true,
       [] {
         return Apply(kSlowSpooler) &&
                Apply(
                    R"({"files": [{"path": "C:\\Windows\\System32\\gwrmon64.dll", "hold": {"share": 0}}]})");
       },
       u"install.exe un", kRestart,
       "one spooler restart (stop 500 ms, start 700 ms, 200 ms polls): 600 + 800 = " + restart},
      {"removetray, tray exits at once", true, Nothing, u"install.exe removetray", 0,
       "one request, released at once: 0"},
      {"removetray, nothing running", false, Nothing, u"install.exe removetray", kRunValueMissing,
       "no Run value: 1000"},
      {"removetray, tray exits after 7 s", true,
       [] { return Apply(R"({"tray": {"behaviour": "delay", "exitDelayMs": 7000}})"); },
       u"install.exe removetray", 7000, "5000 wait, second request, released 2000 into the next wait: 7000"},
      {"removetray, tray ignores the request", true,
       [] { return Apply(R"({"tray": {"behaviour": "ignore"}})"); }, u"install.exe removetray",
       20 * 5000 + 5000 + kTrayFileRetries,
       "20 x 5000 + 5000, then 10 failed deletions (error 32) 10 ms apart: 105000 + 90"},
      {"removetray, tray without a window", true,
       [] { return Apply(R"({"tray": {"behaviour": "nowindow"}})"); }, u"install.exe removetray",
       20 * 250 + kTrayFileRetries, "20 x 250, then 10 failed deletions (error 32) 10 ms apart: 5000 + 90"},
      {"onInit, rename pending on gwrdrv64.dll (exit 200)", true,
       [] {
         winsim::SetRegMultiSz("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                               "PendingFileRenameOperations",
                               {"\\??\\C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrdrv64.dll",
                                "!\\??\\C:\\Windows\\System32\\spool\\drivers\\x64\\3\\gwrdrv64.old"});
         return Apply(kSlowSpooler);
       },
       u"install.exe onInit", 2 * kRestart, "two spooler restarts: 2 x " + restart},
      {"onInit, nothing pending", true, Nothing, u"install.exe onInit", 0, "no restart: 0"},
      {"onChkDrv", true, Nothing, u"install.exe onChkDrv", 0, "no wait: 0"},
      {"def.set", true, Nothing, u"install.exe def.set", 0, "no wait: 0"},
      {"install, driver file's destination held (exit 100)", true,
       [] {
         return Apply(R"({"files": [{"path": "C:\\Windows\\System32\\spool\\drivers\\x64\\gwrdrv64.dll",
                                      "text": "x", "hold": {"share": 0}}]})");
       },
       u"install.exe in", 100 * 50, "100 attempts, each followed by 50 ms: 5000"},
      {"fresh install, monitor registration refused 4 times", false,
       [] { return Apply(R"({"faults": [{"call": "AddMonitorW", "error": 5, "nth": 1, "times": 4}]})"); },
       u"install.exe in", kRunValueMissing + 4 * 50, "Run value 1000, 4 x 50 between tries: 1200"},
      {"fresh install, spooler stopped, starts in 3 s", false,
       [] { return Apply(R"({"spoolerService": {"state": "stopped", "startDelayMs": 3000}})"); },
       u"install.exe in", Polls(3000) + kRunValueMissing,
       "15 polls of 200 to see it run, Run value 1000: 4000"},
  };
}

}  // namespace

int main() {
  int differ = 0;
  std::printf("| scenario | command | what the design makes of it | expected ms | measured ms | exit |\n");
  std::printf("|---|---|---|---:|---:|---:|\n");
  for (const Scenario &s : Scenarios()) {
    std::string dir = mrvtest::MakeTempDir();
    bool ready = true;
    if (s.installed)
      ready = mrvbench::InstallProduct(dir);
    else
      winsim::NewMachine(dir);
    ready = ready && s.prepare();
    uint64_t waited = 0;
    unsigned code = ready ? mrvbench::Run(s.command, &waited) : 0;
    bool equal = ready && waited == s.expectedMs;
    if (!equal) ++differ;
    std::printf("| %s | `%s` | %s | %llu | %llu%s | %u |\n", s.name.c_str(),
                winsim::ToUtf8(s.command).c_str(), s.why.c_str(),
                static_cast<unsigned long long>(s.expectedMs), static_cast<unsigned long long>(waited),
                equal ? "" : " (differs)", code);
    winsim::BeginProcess(u"install.exe");
    mrvtest::RemoveTree(dir);
  }
  if (differ != 0) std::printf("\n%d scenario(s) waited otherwise than expected\n", differ);
  return differ == 0 ? 0 : 1;
}
