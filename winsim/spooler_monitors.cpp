// The spooler's port monitors: enumeration, registration and removal. A
// registered monitor's DLL lies in the system directory and is loaded by the
// running spooler, so the file is in use while the spooler runs.
#include <cstring>

#include "winsim/internal.h"
#include "winsim/spooler_pack.h"
#include "winsim/winsim.h"

using namespace winsim;

namespace {

// Monitors can only be registered for the spooler's own platform.
bool NativeEnvironment(LPCWSTR given) {
  std::string env;
  if (!ResolveEnvironment(given, &env)) return false;
  if (!IEquals(env, kNativeEnvironment)) {
    Fail(ERROR_INVALID_ENVIRONMENT);
    return false;
  }
  return true;
}

}  // namespace

BOOL WINAPI EnumMonitorsW(LPWSTR pName, DWORD Level, LPBYTE pMonitor, DWORD cbBuf, LPDWORD pcbNeeded,
                          LPDWORD pcReturned) {
  if (detail::Enter("EnumMonitorsW", "level " + std::to_string(Level))) return FALSE;
  if (!StartListing(pName, pcbNeeded, pcReturned)) return FALSE;
  if (Level != 1 && Level != 2) {
    Fail(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const Monitor *> list;
  for (auto &m : M().spooler.monitors)
    if (!m.removed) list.push_back(&m);
  auto pack = [&](Packer &pk) {
    size_t size = Level == 1 ? sizeof(MONITOR_INFO_1W) : sizeof(MONITOR_INFO_2W);
    auto *base = static_cast<uint8_t *>(pk.Records(size * list.size()));
    for (size_t i = 0; i < list.size(); ++i) {
      MONITOR_INFO_2W r{};
      r.pName = pk.Str(list[i]->name);
      if (Level == 2) {
        r.pEnvironment = pk.Str(list[i]->environment);
        r.pDLLName = pk.Str(list[i]->dll);
      }
      if (pk.Writing()) std::memcpy(base + i * size, &r, size);
    }
  };
  return FinishPacked(pack, list.size(), pMonitor, cbBuf, pcbNeeded, pcReturned, "monitors");
}

BOOL WINAPI AddMonitorW(LPWSTR pName, DWORD Level, LPBYTE pMonitors) {
  const auto *r = reinterpret_cast<const MONITOR_INFO_2W *>(pMonitors);
  std::string name = Level == 2 && r != nullptr ? ToUtf8(r->pName) : std::string();
  std::string dll = Level == 2 && r != nullptr ? ToUtf8(r->pDLLName) : std::string();
  if (detail::Enter("AddMonitorW", name + " " + dll)) return FALSE;
  if (pName != nullptr && pName[0] != 0) {
    Fail(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (RefuseWhenStopped()) return FALSE;
  if (Level != 2) {
    Fail(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (r == nullptr || name.empty() || dll.empty()) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!NativeEnvironment(r->pEnvironment)) return FALSE;
  if (FindMonitor(name) != nullptr) {
    Fail(ERROR_PRINT_MONITOR_ALREADY_INSTALLED);
    return FALSE;
  }
  // The spooler loads the DLL from the system directory.
  if (dll.find_first_of("\\/") != std::string::npos || !FileExists(internal::SystemPath(dll))) {
    Fail(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  Monitor m;
  m.name = name;
  m.environment = kNativeEnvironment;
  m.dll = dll;
  m.ports = {name};
  m.loaded = true;
  M().spooler.monitors.push_back(m);
  detail::Result("ok");
  return TRUE;
}

BOOL WINAPI DeleteMonitorW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pMonitorName) {
  std::string name = ToUtf8(pMonitorName);
  if (detail::Enter("DeleteMonitorW", ToUtf8(pEnvironment) + " " + name)) return FALSE;
  if (pName != nullptr && pName[0] != 0) {
    Fail(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (RefuseWhenStopped()) return FALSE;
  if (name.empty()) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!NativeEnvironment(pEnvironment)) return FALSE;
  Monitor *m = FindMonitor(name);
  if (m == nullptr) {
    Fail(ERROR_UNKNOWN_PRINT_MONITOR);
    return FALSE;
  }
  if (PortsInUse(m->ports)) {
    Fail(ERROR_PRINT_MONITOR_IN_USE);
    return FALSE;
  }
  auto &mons = M().spooler.monitors;
  if (M().spooler.monitorDllStaysLoaded && m->loaded) {
    // Gone from the spooler's list; its DLL stays in use until the spooler stops.
    m->removed = true;
  } else {
    mons.erase(mons.begin() + (m - mons.data()));
  }
  detail::Result("ok");
  return TRUE;
}
