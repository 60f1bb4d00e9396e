// Stopping and restarting the spooler around a retry: the log lines of both
// halves, the virtual time spent waiting, the calls made, and the silence
// without a context.
#include <functional>
#include <string>

#include "app/context.h"
#include "common/counted_string.h"
#include "support/fixture.h"
#include "sys/spooler_restart.h"

namespace {

using mrvtest::U8;

winsim::Service &Spooler() {
  return winsim::M().services[0];
}

struct RestartRow {
  const char *name;
  std::function<void()> setup;
  bool context;
  std::string log;  // at IndentLevel 1
  LONG errors;
  uint64_t waitedMs;  // the whole restart
  size_t stops;       // ControlService calls
  size_t starts;      // StartServiceW calls
  DWORD stateAfter;
};

class SpoolerRestartTest : public mrvtest::MachineTest {};

TEST_F(SpoolerRestartTest, BothHalvesAcrossTheServicesStatesAndFaults) {
  const std::string denied = " - (Access to the object was refused.)";
  const RestartRow rows[] = {
      {"running spooler", [] {}, true, "  >Restart Spooler\r\n", 0, 0, 1, 1, SERVICE_RUNNING},
      {"already stopped", [] { Spooler().state = SERVICE_STOPPED; }, true, "  >Restart Spooler\r\n", 0, 0, 1,
       1, SERVICE_RUNNING},
      {"stop takes a second", [] { Spooler().stopDelayMs = 1000; }, true, "  >Restart Spooler\r\n", 0, 1000,
       1, 1, SERVICE_RUNNING},
      {"start takes a second", [] { Spooler().startDelayMs = 1000; }, true, "  >Restart Spooler\r\n", 0, 1000,
       1, 1, SERVICE_RUNNING},
      {"stop just in time", [] { Spooler().stopDelayMs = 10000; }, true, "  >Restart Spooler\r\n", 0, 10000,
       1, 1, SERVICE_RUNNING},
      // The stop completes only after the wait gave up; the start request then
      // meets a stopping service and is refused, so the spooler stays down.
      {"stop just too late", [] { Spooler().stopDelayMs = 10001; }, true,
       "  >Restart Spooler\r\n  Error(3): Can't stop the spooler\r\n"
       "  Error(4): Can't start the spooler - (The service is already running.)\r\n",
       2, 20000, 1, 1, SERVICE_STOPPED},
      {"ignores the stop", [] { Spooler().ignoresStop = true; }, true,
       "  >Restart Spooler\r\n  Error(3): Can't stop the spooler\r\n", 1, 10000, 1, 1, SERVICE_RUNNING},
      {"stop fails with access denied", [] { Spooler().stopError = ERROR_ACCESS_DENIED; }, true,
       "  >Restart Spooler\r\n  Error(5): ControlService failed with code 5 (0x5)" + denied +
           "\r\n  Error(3): Can't stop the spooler" + denied + "\r\n",
       2, 10000, 1, 1, SERVICE_RUNNING},
      {"stop fails with a time-out", [] { Spooler().stopError = ERROR_SERVICE_REQUEST_TIMEOUT; }, true,
       "  >Restart Spooler\r\n  Error(5): ControlService failed with code 1053 (0x41d) - ( No Description "
       ")\r\n"
       "  Error(3): Can't stop the spooler - ( No Description )\r\n",
       2, 10000, 1, 1, SERVICE_RUNNING},
      {"never starts again", [] { Spooler().neverStarts = true; }, true,
       "  >Restart Spooler\r\n  Error(4): Can't start the spooler\r\n", 1, 10000, 1, 1,
       SERVICE_START_PENDING},
      {"manager unopenable", [] { winsim::M().scmUnopenable = true; }, true,
       "  >Restart Spooler\r\n  Error(1): Can't open service manager." + denied + "\r\n", 1, 0, 0, 0,
       SERVICE_RUNNING},
      {"spooler unopenable", [] { Spooler().unopenable = true; }, true,
       "  >Restart Spooler\r\n  Error(2): Can't open the spooler" + denied + "\r\n", 1, 0, 0, 0,
       SERVICE_RUNNING},
      {"no context: running spooler", [] {}, false, "", 0, 0, 1, 1, SERVICE_RUNNING},
      {"no context: ignores the stop", [] { Spooler().ignoresStop = true; }, false, "", 0, 10000, 1, 1,
       SERVICE_RUNNING},
      {"no context: stop fails", [] { Spooler().stopError = ERROR_ACCESS_DENIED; }, false, "", 0, 10000, 1, 1,
       SERVICE_RUNNING},
      {"no context: never starts again", [] { Spooler().neverStarts = true; }, false, "", 0, 10000, 1, 1,
       SERVICE_START_PENDING},
      {"no context: manager unopenable", [] { winsim::M().scmUnopenable = true; }, false, "", 0, 0, 0, 0,
       SERVICE_RUNNING},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.name);
    winsim::NewMachine(dir_, options_);
    Begin();
    row.setup();
    InstallContext ctx{};
    ctx.IndentLevel = 1;
    SetLastError(0);
    {
      SpoolerRestart restart;
      RestartSpooler(&restart, row.context ? &ctx : nullptr);
      EXPECT_EQ(winsim::CallCount("StartServiceW"), 0u);  // nothing starts before the second half
      if (restart.Service != nullptr) {
        EXPECT_EQ(restart.StopRequested, 1);
      }
      if (row.stops > 0) {
        // Stopped, or the wait gave up: 51 queries at most.
        EXPECT_LE(winsim::CallCount("QueryServiceStatus"), 51u);
      }
    }
    EXPECT_EQ(U8(CountedStringText(ctx.Log)), row.log);
    EXPECT_EQ(ctx.ErrorCount, row.errors);
    EXPECT_EQ(ctx.IndentLevel, 1);
    EXPECT_EQ(winsim::P().waitedMs, row.waitedMs);
    EXPECT_EQ(winsim::CallCount("ControlService"), row.stops);
    EXPECT_EQ(winsim::CallCount("StartServiceW"), row.starts);
    EXPECT_EQ(Spooler().state, row.stateAfter);
    // The manager is closed also when it could not be opened.
    EXPECT_EQ(winsim::CallCount("CloseServiceHandle"), row.stops > 0 ? 2u : 1u);
    FreeContext(&ctx);
    EXPECT_TRUE(winsim::Leaks().empty());
  }
}

TEST_F(SpoolerRestartTest, AStoppedSpoolerRunsAfterwards) {
  Spooler().state = SERVICE_STOPPED;
  InstallContext ctx{};
  {
    SpoolerRestart restart;
    RestartSpooler(&restart, &ctx);
    EXPECT_EQ(Spooler().state, static_cast<DWORD>(SERVICE_STOPPED));
    // The refused stop (1062) is silent and the first query needs no sleep.
    EXPECT_EQ(winsim::CallCount("Sleep"), 0u);
    EXPECT_EQ(winsim::CallCount("QueryServiceStatus"), 1u);
  }
  EXPECT_EQ(Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(ctx.ErrorCount, 0);
  FreeContext(&ctx);
}

// The work between the halves sees the spooler stopped; the end of the
// scope starts it, whichever way the scope is left.
TEST_F(SpoolerRestartTest, TheEndOfTheScopeStartsTheSpoolerOnce) {
  auto work = [](bool leaveEarly) -> DWORD {
    SpoolerRestart restart;
    RestartSpooler(&restart, nullptr);
    DWORD seen = Spooler().state;
    if (leaveEarly) return seen;
    FinishSpoolerRestart(&restart);  // early; the end of the scope adds nothing
    EXPECT_EQ(Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
    return seen;
  };
  EXPECT_EQ(work(true), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Spooler().state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(work(false), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(winsim::CallCount("ControlService"), 2u);
  EXPECT_EQ(winsim::CallCount("StartServiceW"), 2u);
  EXPECT_EQ(winsim::CallCount("CloseServiceHandle"), 4u);
}

TEST_F(SpoolerRestartTest, ARecordNeverUsedDoesNothing) {
  {
    SpoolerRestart restart;
    FinishSpoolerRestart(&restart);
  }
  EXPECT_TRUE(winsim::P().journal.empty());
}

TEST_F(SpoolerRestartTest, AReusedRecordFinishesItsFirstRestartFirst) {
  InstallContext ctx{};
  {
    SpoolerRestart restart;
    RestartSpooler(&restart, &ctx);
    RestartSpooler(&restart, &ctx);
    EXPECT_EQ(winsim::CallCount("StartServiceW"), 1u);
    EXPECT_EQ(Spooler().state, static_cast<DWORD>(SERVICE_STOPPED));
  }
  EXPECT_EQ(winsim::CallCount("StartServiceW"), 2u);
  EXPECT_EQ(U8(CountedStringText(ctx.Log)), ">Restart Spooler\r\n>Restart Spooler\r\n");
  FreeContext(&ctx);
}

// The order of the calls: stop, wait, then start and close, on the local
// machine with the documented rights.
TEST_F(SpoolerRestartTest, CallsGoToTheLocalManagerWithTheirRights) {
  {
    SpoolerRestart restart;
    RestartSpooler(&restart, nullptr);
  }
  std::vector<std::string> calls;
  for (auto &e : winsim::P().journal) {
    if (e.call != "Sleep") calls.push_back(e.call + " " + e.args);
  }
  EXPECT_EQ(calls,
            (std::vector<std::string>{"OpenSCManagerW 983041", "OpenServiceW spooler 52", "ControlService 1",
                                      "QueryServiceStatus ", "StartServiceW ", "QueryServiceStatus ",
                                      "CloseServiceHandle ", "CloseServiceHandle "}));
}

}  // namespace
