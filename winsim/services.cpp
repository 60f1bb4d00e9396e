// Services: the service control manager and the "spooler" service, whose
// state changes on the virtual clock.
#include <map>

#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim {

namespace {
struct ServiceHandle {
  std::string service;  // empty for the manager
  DWORD access = 0;
};
std::map<const void *, ServiceHandle> g_handles;

void SetState(Service &s, DWORD state) {
  DWORD old = s.state;
  s.state = state;
  s.pendingTarget = 0;
  if (IEquals(s.name, "spooler")) {
    if (old != SERVICE_RUNNING && state == SERVICE_RUNNING) internal::SpoolerStarted();
    // A stop that went through STOP_PENDING unloads the monitors too.
    if (old != state && state == SERVICE_STOPPED) internal::SpoolerStopped();
  }
}

void FillStatus(const Service &s, LPSERVICE_STATUS st) {
  if (st == nullptr) return;
  st->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  st->dwCurrentState = s.state;
  st->dwControlsAccepted = s.state == SERVICE_RUNNING ? 1 : 0;
  st->dwWin32ExitCode = 0;
  st->dwServiceSpecificExitCode = 0;
  st->dwCheckPoint = 0;
  st->dwWaitHint = 0;
}

Service *ServiceOf(SC_HANDLE h, DWORD needAccess) {
  auto it = g_handles.find(h);
  if (it == g_handles.end() || it->second.service.empty()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((it->second.access & needAccess) != needAccess) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  Service *s = internal::FindService(it->second.service);
  if (s == nullptr) SetLastError(ERROR_INVALID_HANDLE);
  return s;
}
}  // namespace

namespace internal {

Service *FindService(const std::string &name) {
  for (auto &s : M().services)
    if (IEquals(s.name, name)) return &s;
  return nullptr;
}

void ServicesOnClock() {
  for (auto &s : M().services) {
    if (s.pendingTarget != 0 && M().clockMs >= s.pendingUntil) SetState(s, s.pendingTarget);
  }
}

bool SpoolerRunning() {
  Service *s = FindService("spooler");
  return s != nullptr && s->state == SERVICE_RUNNING;
}

void ServicesResetProcess() {
  g_handles.clear();
}

}  // namespace internal
}  // namespace winsim

using namespace winsim;

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR lpMachineName, LPCWSTR lpDatabaseName, DWORD dwDesiredAccess) {
  if (detail::Enter("OpenSCManagerW", std::to_string(dwDesiredAccess))) return nullptr;
  if (lpMachineName != nullptr && lpMachineName[0] != 0) {
    SetLastError(RPC_S_SERVER_UNAVAILABLE);
    return nullptr;
  }
  if (M().scmUnopenable) {
    SetLastError(ERROR_ACCESS_DENIED);
    detail::Result("error 5");
    return nullptr;
  }
  HANDLE h = detail::NewHandle(HandleKind::Manager);
  g_handles[h] = {std::string(), dwDesiredAccess};
  return static_cast<SC_HANDLE>(h);
}

SC_HANDLE WINAPI OpenServiceW(SC_HANDLE hSCManager, LPCWSTR lpServiceName, DWORD dwDesiredAccess) {
  std::string name = ToUtf8(lpServiceName);
  if (detail::Enter("OpenServiceW", name + " " + std::to_string(dwDesiredAccess))) return nullptr;
  auto it = g_handles.find(hSCManager);
  if (it == g_handles.end() || !it->second.service.empty()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  Service *s = internal::FindService(name);
  if (s == nullptr) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  if (s->unopenable) {
    SetLastError(ERROR_ACCESS_DENIED);
    detail::Result("error 5");
    return nullptr;
  }
  HANDLE h = detail::NewHandle(HandleKind::Service);
  g_handles[h] = {s->name, dwDesiredAccess};
  return static_cast<SC_HANDLE>(h);
}

BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl, LPSERVICE_STATUS lpServiceStatus) {
  if (detail::Enter("ControlService", std::to_string(dwControl))) return FALSE;
  internal::ServicesOnClock();
  if (dwControl != SERVICE_CONTROL_STOP) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  Service *s = ServiceOf(hService, SERVICE_STOP);
  if (s == nullptr) return FALSE;
  if (s->state == SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    detail::Result("error 1062");
    return FALSE;
  }
  if (s->stopError != 0) {
    SetLastError(s->stopError);
    detail::Result("error " + std::to_string(s->stopError));
    return FALSE;
  }
  if (s->state != SERVICE_RUNNING) {
    SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    return FALSE;
  }
  if (!s->ignoresStop) {
    if (s->stopDelayMs == 0) {
      SetState(*s, SERVICE_STOPPED);
    } else {
      s->state = SERVICE_STOP_PENDING;
      s->pendingTarget = SERVICE_STOPPED;
      s->pendingUntil = M().clockMs + s->stopDelayMs;
    }
  }
  FillStatus(*s, lpServiceStatus);
  detail::Result("ok");
  return TRUE;
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
  if (detail::Enter("QueryServiceStatus", "")) return FALSE;
  internal::ServicesOnClock();
  Service *s = ServiceOf(hService, SERVICE_QUERY_STATUS);
  if (s == nullptr) return FALSE;
  FillStatus(*s, lpServiceStatus);
  detail::Result(std::to_string(s->state));
  return TRUE;
}

BOOL WINAPI StartServiceW(SC_HANDLE hService, DWORD dwNumServiceArgs, LPCWSTR *lpServiceArgVectors) {
  if (detail::Enter("StartServiceW", "")) return FALSE;
  internal::ServicesOnClock();
  Service *s = ServiceOf(hService, SERVICE_START);
  if (s == nullptr) return FALSE;
  if (s->state != SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    detail::Result("error 1056");
    return FALSE;
  }
  if (s->neverStarts) {
    s->state = SERVICE_START_PENDING;
    s->pendingTarget = 0;
  } else if (s->startDelayMs == 0) {
    SetState(*s, SERVICE_RUNNING);
  } else {
    s->state = SERVICE_START_PENDING;
    s->pendingTarget = SERVICE_RUNNING;
    s->pendingUntil = M().clockMs + s->startDelayMs;
  }
  detail::Result("ok");
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
  if (detail::Enter("CloseServiceHandle", "")) return FALSE;
  auto it = g_handles.find(hSCObject);
  if (it == g_handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    detail::Result("error 6");
    return FALSE;
  }
  g_handles.erase(it);
  detail::DropHandle(hSCObject);
  return TRUE;
}
