// The service control manager and the "spooler" service: stop and start
// requests with the documented refusals, states that change on the virtual
// clock, and the injected faults (ignores the stop, never starts, a stop
// error, an unopenable service or manager).
#include <functional>

#include "support/fixture.h"
#include "support/scenario.h"

namespace {

winsim::Service &Spooler() {
  return winsim::M().services[0];
}

class ServicesTest : public mrvtest::MachineTest {};

struct Request {
  const char *name;
  std::function<void()> setup;
  DWORD access;        // of the service handle
  bool stop;           // stop request, else start request
  DWORD error;         // 0: the request succeeds
  DWORD stateAfter;    // right after the request
  uint32_t advanceMs;  // then the clock moves on by this much
  DWORD stateLater;    // and the state is this
};

TEST_F(ServicesTest, RequestsFollowTheServiceAndItsFaults) {
  const DWORD kAll = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;
  const Request cases[] = {
      {"stop a running service", [] {}, kAll, true, 0, SERVICE_STOPPED, 0, SERVICE_STOPPED},
      {"stop a stopped service", [] { Spooler().state = SERVICE_STOPPED; }, kAll, true,
       ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED, 0, SERVICE_STOPPED},
      {"stop without the stop right", [] {}, SERVICE_QUERY_STATUS | SERVICE_START, true, ERROR_ACCESS_DENIED,
       SERVICE_RUNNING, 0, SERVICE_RUNNING},
      {"stop that takes its time", [] { Spooler().stopDelayMs = 3000; }, kAll, true, 0, SERVICE_STOP_PENDING,
       2999, SERVICE_STOP_PENDING},
      {"stop that has taken its time", [] { Spooler().stopDelayMs = 3000; }, kAll, true, 0,
       SERVICE_STOP_PENDING, 3000, SERVICE_STOPPED},
      {"stop while a stop is pending",
       [] {
         Spooler().state = SERVICE_STOP_PENDING;
         Spooler().pendingTarget = SERVICE_STOPPED;
         Spooler().pendingUntil = winsim::M().clockMs + 500;
       },
       kAll, true, ERROR_SERVICE_CANNOT_ACCEPT_CTRL, SERVICE_STOP_PENDING, 500, SERVICE_STOPPED},
      {"service ignores the stop", [] { Spooler().ignoresStop = true; }, kAll, true, 0, SERVICE_RUNNING,
       20000, SERVICE_RUNNING},
      {"stop fails with access denied", [] { Spooler().stopError = ERROR_ACCESS_DENIED; }, kAll, true,
       ERROR_ACCESS_DENIED, SERVICE_RUNNING, 0, SERVICE_RUNNING},
      {"stop fails with a time-out", [] { Spooler().stopError = ERROR_SERVICE_REQUEST_TIMEOUT; }, kAll, true,
       ERROR_SERVICE_REQUEST_TIMEOUT, SERVICE_RUNNING, 0, SERVICE_RUNNING},
      {"stop error of a stopped service",
       [] {
         Spooler().state = SERVICE_STOPPED;
         Spooler().stopError = ERROR_ACCESS_DENIED;
       },
       kAll, true, ERROR_SERVICE_NOT_ACTIVE, SERVICE_STOPPED, 0, SERVICE_STOPPED},
      {"start a stopped service", [] { Spooler().state = SERVICE_STOPPED; }, kAll, false, 0, SERVICE_RUNNING,
       0, SERVICE_RUNNING},
      {"start a running service", [] {}, kAll, false, ERROR_SERVICE_ALREADY_RUNNING, SERVICE_RUNNING, 0,
       SERVICE_RUNNING},
      {"start without the start right", [] { Spooler().state = SERVICE_STOPPED; },
       SERVICE_QUERY_STATUS | SERVICE_STOP, false, ERROR_ACCESS_DENIED, SERVICE_STOPPED, 0, SERVICE_STOPPED},
      {"start that takes its time",
       [] {
         Spooler().state = SERVICE_STOPPED;
         Spooler().startDelayMs = 1500;
       },
       kAll, false, 0, SERVICE_START_PENDING, 1500, SERVICE_RUNNING},
      {"service never starts",
       [] {
         Spooler().state = SERVICE_STOPPED;
         Spooler().neverStarts = true;
       },
       kAll, false, 0, SERVICE_START_PENDING, 60000, SERVICE_START_PENDING},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::NewMachine(dir_, options_);
    Begin();
    c.setup();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, STANDARD_RIGHTS_REQUIRED | SC_MANAGER_CONNECT);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = OpenServiceW(manager, u"Spooler", c.access);
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status{};
    SetLastError(0);
    BOOL ok =
        c.stop ? ControlService(service, SERVICE_CONTROL_STOP, &status) : StartServiceW(service, 0, nullptr);
    EXPECT_EQ(ok != 0, c.error == 0);
    if (c.error != 0) {
      EXPECT_EQ(GetLastError(), c.error);
    } else if (c.stop) {
      EXPECT_EQ(status.dwCurrentState, c.stateAfter);  // the stop reports the state it left
    }
    EXPECT_EQ(Spooler().state, c.stateAfter);
    Sleep(c.advanceMs);
    SERVICE_STATUS later{};
    BOOL queried = QueryServiceStatus(service, &later);
    if (c.access & SERVICE_QUERY_STATUS) {
      EXPECT_TRUE(queried);
      EXPECT_EQ(later.dwCurrentState, c.stateLater);
    }
    EXPECT_EQ(winsim::P().waitedMs, c.advanceMs);
    EXPECT_TRUE(CloseServiceHandle(service));
    EXPECT_TRUE(CloseServiceHandle(manager));
  }
}

TEST_F(ServicesTest, OpeningRefusesWhatCannotBeOpened) {
  struct Case {
    const char *name;
    std::function<void()> setup;
    const char16_t *machine;
    const char16_t *service;
    DWORD managerError;  // 0: the manager opens
    DWORD serviceError;  // 0: the service opens
  };
  const Case cases[] = {
      {"local spooler", [] {}, nullptr, u"spooler", 0, 0},
      {"empty machine name", [] {}, u"", u"SPOOLER", 0, 0},
      {"remote machine", [] {}, u"\\\\server", u"spooler", RPC_S_SERVER_UNAVAILABLE, 0},
      {"manager unopenable", [] { winsim::M().scmUnopenable = true; }, nullptr, u"spooler",
       ERROR_ACCESS_DENIED, 0},
      {"service unopenable", [] { Spooler().unopenable = true; }, nullptr, u"spooler", 0,
       ERROR_ACCESS_DENIED},
      {"no such service", [] {}, nullptr, u"nosuchservice", 0, ERROR_SERVICE_DOES_NOT_EXIST},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    winsim::NewMachine(dir_, options_);
    Begin();
    c.setup();
    SetLastError(0);
    SC_HANDLE manager = OpenSCManagerW(c.machine, nullptr, 0xF0001);
    if (c.managerError != 0) {
      EXPECT_EQ(manager, nullptr);
      EXPECT_EQ(GetLastError(), c.managerError);
      continue;
    }
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = OpenServiceW(manager, c.service, 0x34);
    if (c.serviceError != 0) {
      EXPECT_EQ(service, nullptr);
      EXPECT_EQ(GetLastError(), c.serviceError);
    } else {
      EXPECT_NE(service, nullptr);
      EXPECT_TRUE(CloseServiceHandle(service));
    }
    EXPECT_TRUE(CloseServiceHandle(manager));
  }
}

TEST_F(ServicesTest, HandlesAreAccountedAndClosedOnce) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, u"spooler", SERVICE_QUERY_STATUS);
  EXPECT_EQ(winsim::Leaks().size(), 2u);
  SERVICE_STATUS status{};
  // The manager handle is no service handle.
  EXPECT_FALSE(QueryServiceStatus(reinterpret_cast<SC_HANDLE>(manager), &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseServiceHandle(service));
  EXPECT_FALSE(CloseServiceHandle(service));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_FALSE(CloseServiceHandle(nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseServiceHandle(manager));
  EXPECT_TRUE(winsim::Leaks().empty());
}

// Stopping the spooler unloads its monitors and refuses spooler calls;
// starting it loads them again.
TEST_F(ServicesTest, SpoolerStateDrivesTheMonitors) {
  mrvtest::PutMonitorFileBuild(2563);
  mrvtest::PutMonitor();
  Spooler().stopDelayMs = 400;
  Spooler().startDelayMs = 200;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, u"spooler", 0x34);
  SERVICE_STATUS status{};
  ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
  DWORD needed = 0, count = 0;
  EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
  EXPECT_TRUE(winsim::M().spooler.monitors[0].loaded);  // until the stop completes
  Sleep(400);
  QueryServiceStatus(service, &status);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_FALSE(winsim::M().spooler.monitors[0].loaded);
  ASSERT_TRUE(StartServiceW(service, 0, nullptr));
  EXPECT_FALSE(winsim::M().spooler.monitors[0].loaded);
  Sleep(200);
  QueryServiceStatus(service, &status);
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_TRUE(winsim::M().spooler.monitors[0].loaded);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
}

}  // namespace
