// The spooler's printer drivers: enumeration per environment, a printer's
// driver, installation with the spooler's own copies of the driver's files in
// the version subdirectory of the driver directory, and removal.
#include <cstring>
#include <filesystem>

#include "winsim/internal.h"
#include "winsim/spooler_pack.h"
#include "winsim/winsim.h"

namespace winsim {

size_t DriverRecordSize(DWORD level) {
  switch (level) {
    case 1:
      return sizeof(DRIVER_INFO_1W);
    case 2:
      return sizeof(DRIVER_INFO_2W);
    case 3:
      return sizeof(DRIVER_INFO_3W);
    case 4:
      return sizeof(DRIVER_INFO_4W);
    case 5:
      return sizeof(DRIVER_INFO_5W);
    case 6:
      return sizeof(DRIVER_INFO_6W);
    default:
      return 0;
  }
}

void PackDriver(Packer &pk, void *rec, DWORD level, const Driver &d) {
  if (level == 1) {
    DRIVER_INFO_1W r{};
    r.pName = pk.Str(d.name);
    if (pk.Writing()) std::memcpy(rec, &r, sizeof r);
    return;
  }
  if (level == 5) {
    DRIVER_INFO_5W r{};
    r.cVersion = d.version;
    r.pName = pk.Str(d.name);
    r.pEnvironment = pk.Str(d.environment);
    r.pDriverPath = pk.Str(d.driverPath);
    r.pDataFile = pk.Str(d.dataFile);
    r.pConfigFile = pk.Str(d.configFile);
    if (pk.Writing()) std::memcpy(rec, &r, sizeof r);
    return;
  }
  // Levels 2, 3, 4 and 6 share their leading fields: fill the widest record
  // and copy the part the level has.
  DRIVER_INFO_6W r{};
  r.cVersion = d.version;
  r.pName = pk.Str(d.name);
  r.pEnvironment = pk.Str(d.environment);
  r.pDriverPath = pk.Str(d.driverPath);
  r.pDataFile = pk.Str(d.dataFile);
  r.pConfigFile = pk.Str(d.configFile);
  if (level >= 3) {
    r.pHelpFile = pk.Str(d.helpFile);
    r.pDependentFiles = pk.MultiStr(d.dependentFiles);
    r.pMonitorName = pk.Str(d.monitorName);
    r.pDefaultDataType = pk.Str(d.defaultDataType);
  }
  if (level == 6) {
    r.pszMfgName = pk.Str(d.mfgName);
    r.pszOEMUrl = pk.Str(d.oemUrl);
    r.pszHardwareID = pk.Str(d.hardwareId);
    r.pszProvider = pk.Str(d.provider);
  }
  if (pk.Writing()) std::memcpy(rec, &r, DriverRecordSize(level));
}

}  // namespace winsim

using namespace winsim;

namespace {

std::string BaseName(const std::string &path) {
  size_t pos = path.find_last_of("\\/");
  return pos == std::string::npos ? path : path.substr(pos + 1);
}

// The items of a zero-separated, double-zero-ended list.
std::vector<std::string> MultiText(LPCWSTR s) {
  std::vector<std::string> out;
  if (s == nullptr) return out;
  while (*s != 0) {
    std::u16string item(s);
    out.push_back(ToUtf8(item));
    s += item.size() + 1;
  }
  return out;
}

// Copies one named driver file into the version directory. A bare file name
// is looked for in the environment's driver directory. Returns the copy's
// path, or an empty string with the error in `*error`.
std::string CopyDriverFile(const std::string &given, const std::string &envDir, const std::string &versionDir,
                           DWORD *error) {
  std::string source = given.find_first_of("\\/") == std::string::npos ? envDir + "\\" + given : given;
  std::string target = versionDir + "\\" + BaseName(given);
  std::string bytes;
  if (!FileExists(source) || !ReadHostFile(source, &bytes)) {
    *error = ERROR_FILE_NOT_FOUND;
    return std::string();
  }
  if (internal::FileBlocked(source, GENERIC_READ, FILE_SHARE_READ)) {
    *error = ERROR_SHARING_VIOLATION;
    return std::string();
  }
  if (internal::PathKey(source) != internal::PathKey(target)) WriteHostFile(target, bytes);
  return target;
}

}  // namespace

BOOL WINAPI EnumPrinterDriversW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo,
                                DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (detail::Enter("EnumPrinterDriversW", ToUtf8(pEnvironment) + " level " + std::to_string(Level)))
    return FALSE;
  if (!StartListing(pName, pcbNeeded, pcReturned)) return FALSE;
  bool all = pEnvironment != nullptr && IEquals(ToUtf8(pEnvironment), "all");
  std::string env;
  if (!all && !ResolveEnvironment(pEnvironment, &env)) return FALSE;
  size_t size = DriverRecordSize(Level);
  if (size == 0) {
    Fail(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const Driver *> list;
  for (auto &d : M().spooler.drivers)
    if (all || IEquals(d.environment, env)) list.push_back(&d);
  auto pack = [&](Packer &pk) {
    auto *base = static_cast<uint8_t *>(pk.Records(size * list.size()));
    for (size_t i = 0; i < list.size(); ++i)
      PackDriver(pk, base ? base + i * size : nullptr, Level, *list[i]);
  };
  return FinishPacked(pack, list.size(), pDriverInfo, cbBuf, pcbNeeded, pcReturned, "drivers");
}

BOOL WINAPI GetPrinterDriverW(HANDLE hPrinter, LPWSTR pEnvironment, DWORD Level, LPBYTE pDriverInfo,
                              DWORD cbBuf, LPDWORD pcbNeeded) {
  if (detail::Enter("GetPrinterDriverW", ToUtf8(pEnvironment) + " level " + std::to_string(Level)))
    return FALSE;
  if (pcbNeeded == nullptr) {
    Fail(RPC_X_NULL_REF_POINTER);
    return FALSE;
  }
  *pcbNeeded = 0;
  Printer *p = PrinterOfHandle(hPrinter, PRINTER_ACCESS_USE | PRINTER_ACCESS_ADMINISTER, true);
  if (p == nullptr) return FALSE;
  std::string env;
  if (!ResolveEnvironment(pEnvironment, &env)) return FALSE;
  size_t size = DriverRecordSize(Level);
  if (size == 0) {
    Fail(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const Driver *d = FindDriver(p->driverName, env);
  if (d == nullptr) {
    Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
    return FALSE;
  }
  Driver copy = *d;
  auto pack = [&](Packer &pk) { PackDriver(pk, pk.Records(size), Level, copy); };
  return FinishPacked(pack, 1, pDriverInfo, cbBuf, pcbNeeded, nullptr, "record");
}

BOOL WINAPI AddPrinterDriverExW(LPWSTR pName, DWORD Level, LPBYTE pDriverInfo, DWORD dwFileCopyFlags) {
  const auto *r = reinterpret_cast<const DRIVER_INFO_6W *>(pDriverInfo);
  bool known = Level == 2 || Level == 3 || Level == 4 || Level == 6;
  std::string name = known && r != nullptr ? ToUtf8(r->pName) : std::string();
  if (detail::Enter("AddPrinterDriverExW",
                    name + " level " + std::to_string(Level) + " flags " + std::to_string(dwFileCopyFlags)))
    return FALSE;
  if (pName != nullptr && pName[0] != 0) {
    Fail(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (RefuseWhenStopped()) return FALSE;
  if (!known) {
    Fail(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (r == nullptr || name.empty() || r->cVersion != 3 || r->pDriverPath == nullptr ||
      r->pDriverPath[0] == 0 || r->pDataFile == nullptr || r->pDataFile[0] == 0 ||
      r->pConfigFile == nullptr || r->pConfigFile[0] == 0) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string env;
  if (!ResolveEnvironment(r->pEnvironment, &env)) return FALSE;
  std::string envDir = M().spooler.driverRoot + "\\" + DriverSubdir(env);
  std::string versionDir = envDir + "\\" + std::to_string(r->cVersion);

  Driver d;
  d.name = name;
  d.environment = env;
  d.version = r->cVersion;
  std::vector<std::pair<std::string, std::string *>> files = {{ToUtf8(r->pDriverPath), &d.driverPath},
                                                              {ToUtf8(r->pDataFile), &d.dataFile},
                                                              {ToUtf8(r->pConfigFile), &d.configFile}};
  std::vector<std::string> dependents;
  if (Level >= 3) {
    files.push_back({ToUtf8(r->pHelpFile), &d.helpFile});
    dependents = MultiText(r->pDependentFiles);
    d.monitorName = ToUtf8(r->pMonitorName);
    d.defaultDataType = ToUtf8(r->pDefaultDataType);
  }
  if (Level == 6) {
    d.mfgName = ToUtf8(r->pszMfgName);
    d.oemUrl = ToUtf8(r->pszOEMUrl);
    d.hardwareId = ToUtf8(r->pszHardwareID);
    d.provider = ToUtf8(r->pszProvider);
  }
  // Every named file must be there before anything is copied.
  for (auto &f : files) {
    if (f.first.empty()) continue;
    std::string source =
        f.first.find_first_of("\\/") == std::string::npos ? envDir + "\\" + f.first : f.first;
    if (!FileExists(source)) {
      Fail(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
  }
  for (auto &dep : dependents) {
    std::string source = dep.find_first_of("\\/") == std::string::npos ? envDir + "\\" + dep : dep;
    if (!FileExists(source)) {
      Fail(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
  }
  for (auto &f : files) {
    if (f.first.empty()) continue;
    DWORD error = 0;
    *f.second = CopyDriverFile(f.first, envDir, versionDir, &error);
    if (error != 0) {
      Fail(error);
      return FALSE;
    }
  }
  for (auto &dep : dependents) {
    DWORD error = 0;
    std::string copy = CopyDriverFile(dep, envDir, versionDir, &error);
    if (error != 0) {
      Fail(error);
      return FALSE;
    }
    d.dependentFiles.push_back(copy);
  }
  if (Driver *old = FindDriver(name, env))
    *old = d;
  else
    M().spooler.drivers.push_back(d);
  detail::Result("ok");
  return TRUE;
}

BOOL WINAPI DeletePrinterDriverExW(LPWSTR pName, LPWSTR pEnvironment, LPWSTR pDriverName, DWORD dwDeleteFlag,
                                   DWORD dwVersionFlag) {
  std::string name = ToUtf8(pDriverName);
  if (detail::Enter("DeletePrinterDriverExW", ToUtf8(pEnvironment) + " " + name + " flags " +
                                                  std::to_string(dwDeleteFlag) + " version " +
                                                  std::to_string(dwVersionFlag)))
    return FALSE;
  if (pName != nullptr && pName[0] != 0) {
    Fail(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (RefuseWhenStopped()) return FALSE;
  if (name.empty()) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string env;
  if (!ResolveEnvironment(pEnvironment, &env)) return FALSE;
  Driver *d = FindDriver(name, env);
  if (d == nullptr || ((dwDeleteFlag & DPD_DELETE_SPECIFIC_VERSION) && d->version != dwVersionFlag)) {
    Fail(ERROR_UNKNOWN_PRINTER_DRIVER);
    return FALSE;
  }
  // Printers print through the driver of the spooler's own environment.
  if (IEquals(env, kNativeEnvironment)) {
    for (auto &p : M().spooler.printers) {
      if (IEquals(p.driverName, name)) {
        Fail(ERROR_PRINTER_DRIVER_IN_USE);
        return FALSE;
      }
    }
  }
  Driver gone = *d;
  auto &drivers = M().spooler.drivers;
  drivers.erase(drivers.begin() + (d - drivers.data()));
  if (dwDeleteFlag & (DPD_DELETE_ALL_FILES | DPD_DELETE_UNUSED_FILES)) {
    // The spooler's copies go, except those another driver still names.
    std::vector<std::string> files = {gone.driverPath, gone.dataFile, gone.configFile, gone.helpFile};
    files.insert(files.end(), gone.dependentFiles.begin(), gone.dependentFiles.end());
    for (auto &f : files) {
      if (f.empty()) continue;
      bool shared = false;
      for (auto &other : drivers) {
        std::vector<std::string> theirs = {other.driverPath, other.dataFile, other.configFile,
                                           other.helpFile};
        theirs.insert(theirs.end(), other.dependentFiles.begin(), other.dependentFiles.end());
        for (auto &t : theirs)
          if (!t.empty() && internal::PathKey(t) == internal::PathKey(f)) shared = true;
      }
      if (!shared) RemoveHostFile(f);
    }
  }
  detail::Result("ok");
  return TRUE;
}
