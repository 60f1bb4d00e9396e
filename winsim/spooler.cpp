// The print spooler: printers, the driver directory and the default
// printer. Records are returned the way the real spooler lays them out:
// the fixed records first, their strings packed from the end of the buffer.
#include <cstring>

#include "winsim/internal.h"
#include "winsim/spooler_pack.h"
#include "winsim/winsim.h"

namespace winsim {

namespace internal {

void SpoolerStarted() {
  // The spooler loads the DLL of every registered monitor that it can find.
  for (auto &m : M().spooler.monitors) m.loaded = FileExists(SystemPath(m.dll));
}

void SpoolerStopped() {
  for (auto &m : M().spooler.monitors) m.loaded = false;
}

}  // namespace internal

const char *DriverSubdir(const std::string &environment) {
  if (IEquals(environment, "Windows x64")) return "x64";
  if (IEquals(environment, "Windows NT x86")) return "W32X86";
  if (IEquals(environment, "Windows IA64")) return "IA64";
  return nullptr;
}

// Fills one PRINTER_INFO_2W through the packer.
void PackPrinter2(Packer &pk, PRINTER_INFO_2W *rec, const Printer &p) {
  PRINTER_INFO_2W r{};
  r.pServerName = p.serverName.empty() ? nullptr : pk.Str(p.serverName);
  r.pPrinterName = pk.Str(p.name);
  r.pShareName = pk.Str(p.shareName);
  r.pPortName = pk.Str(p.portName);
  r.pDriverName = pk.Str(p.driverName);
  r.pComment = pk.Str(p.comment);
  r.pLocation = pk.Str(p.location);
  r.pDevMode = nullptr;
  r.pSepFile = pk.Str(p.sepFile);
  r.pPrintProcessor = pk.Str(p.printProcessor);
  r.pDatatype = pk.Str(p.datatype);
  r.pParameters = pk.Str(p.parameters);
  r.pSecurityDescriptor = nullptr;
  r.Attributes = p.attributes;
  r.Priority = p.priority;
  r.DefaultPriority = p.defaultPriority;
  r.StartTime = p.startTime;
  r.UntilTime = p.untilTime;
  r.Status = p.status;
  r.cJobs = p.cJobs;
  r.AveragePPM = p.averagePPM;
  if (pk.Writing()) std::memcpy(rec, &r, sizeof r);
}

bool RefuseWhenStopped() {
  if (internal::SpoolerRunning()) return false;
  SetLastError(RPC_S_SERVER_UNAVAILABLE);
  detail::Result("error 1722");
  return true;
}

}  // namespace winsim

using namespace winsim;

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (detail::Enter("EnumPrintersW", std::to_string(Flags) + " level " + std::to_string(Level))) return FALSE;
  if (pcbNeeded == nullptr || pcReturned == nullptr) {
    SetLastError(RPC_X_NULL_REF_POINTER);
    return FALSE;
  }
  *pcReturned = 0;
  if (RefuseWhenStopped()) return FALSE;
  if (Name != nullptr && Name[0] != 0) {
    SetLastError(ERROR_INVALID_NAME);
    return FALSE;
  }
  if (Level != 2) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  std::vector<const Printer *> list;
  for (auto &p : M().spooler.printers) {
    if (p.connection ? (Flags & PRINTER_ENUM_CONNECTIONS) : (Flags & PRINTER_ENUM_LOCAL)) list.push_back(&p);
  }
  auto pack = [&](Packer &pk) {
    PRINTER_INFO_2W *recs = static_cast<PRINTER_INFO_2W *>(pk.Records(sizeof(PRINTER_INFO_2W) * list.size()));
    for (size_t i = 0; i < list.size(); ++i) PackPrinter2(pk, recs ? recs + i : nullptr, *list[i]);
  };
  Packer counter(nullptr, 0);
  pack(counter);
  DWORD needed = counter.Needed();
  *pcbNeeded = needed;
  if (pPrinterEnum == nullptr || cbBuf < needed) {
    if (needed == 0) return TRUE;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    detail::Result("error 122 needed " + std::to_string(needed));
    return FALSE;
  }
  Packer writer(pPrinterEnum, cbBuf);
  pack(writer);
  *pcReturned = static_cast<DWORD>(list.size());
  detail::Result(std::to_string(list.size()) + " printers");
  return TRUE;
}

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                       LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded) {
  std::string env = pEnvironment ? ToUtf8(pEnvironment) : std::string("Windows x64");
  if (detail::Enter("GetPrinterDriverDirectoryW", env)) return FALSE;
  if (RefuseWhenStopped()) return FALSE;
  if (Level != 1) {
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  const char *sub = DriverSubdir(env);
  if (sub == nullptr) {
    SetLastError(ERROR_INVALID_ENVIRONMENT);
    return FALSE;
  }
  std::u16string dir = ToUtf16(M().spooler.driverDirText.empty() ? M().spooler.driverRoot + "\\" + sub
                                                                 : M().spooler.driverDirText);
  DWORD needed = static_cast<DWORD>((dir.size() + 1) * 2);
  if (pcbNeeded != nullptr) *pcbNeeded = needed;
  if (pDriverDirectory == nullptr || cbBuf < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    detail::Result("error 122 needed " + std::to_string(needed));
    return FALSE;
  }
  std::memcpy(pDriverDirectory, dir.c_str(), needed);
  return TRUE;
}

BOOL WINAPI SpoolGetDefaultPrinterW(LPWSTR pszBuffer, LPDWORD pcchBuffer) {
  if (detail::Enter("SpoolGetDefaultPrinterW", "")) return FALSE;
  if (pcchBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string &def = M().spooler.defaultPrinter;
  if (def.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    detail::Result("error 2");
    return FALSE;
  }
  std::u16string name = ToUtf16(def);
  DWORD need = static_cast<DWORD>(name.size() + 1);
  if (pszBuffer == nullptr || *pcchBuffer < need) {
    *pcchBuffer = need;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    detail::Result("error 122");
    return FALSE;
  }
  std::memcpy(pszBuffer, name.c_str(), need * 2);
  *pcchBuffer = need;
  detail::Result(def);
  return TRUE;
}

BOOL WINAPI SpoolSetDefaultPrinterW(LPCWSTR pszPrinter) {
  std::string name = ToUtf8(pszPrinter);
  if (detail::Enter("SpoolSetDefaultPrinterW", name)) return FALSE;
  auto &printers = M().spooler.printers;
  if (name.empty()) {
    // With no name the first printer becomes the default when there is none.
    if (M().spooler.defaultPrinter.empty() && !printers.empty())
      M().spooler.defaultPrinter = printers[0].name;
    return TRUE;
  }
  for (auto &p : printers) {
    if (IEquals(p.name, name)) {
      M().spooler.defaultPrinter = p.name;
      return TRUE;
    }
  }
  SetLastError(ERROR_INVALID_PRINTER_NAME);
  detail::Result("error 1801");
  return FALSE;
}

namespace winsim::internal {
void SpoolerResetProcess() {}
}  // namespace winsim::internal
