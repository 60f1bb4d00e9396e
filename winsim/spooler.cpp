// The print spooler: printers and their handles, the size protocol shared by
// the spooler's queries, the driver directory and the default printer.
// Records are returned the way the real spooler lays them out: the fixed
// records first, their strings packed from the end of the buffer.
//
// Monitors live in spooler_monitors.cpp, drivers in spooler_drivers.cpp and
// printer data in spooler_data.cpp.
#include <algorithm>
#include <cstring>
#include <map>

#include "winsim/internal.h"
#include "winsim/spooler_pack.h"
#include "winsim/winsim.h"

namespace winsim {

namespace {

// An open printer handle. Handles belong to one run of the spooler: once it
// stops, those opened before are stale.
struct PrinterHandle {
  std::string printer;   // name of the printer; empty for the local server
  DWORD access = 0;      // access granted
  uint64_t epoch = 0;    // spooler run the handle was opened in
  bool deleted = false;  // the printer was deleted through some handle
};
std::map<const void *, PrinterHandle> g_handles;

// Counts the spooler's starts within this process, so handles opened before a
// restart can be told apart.
uint64_t g_epoch = 1;

constexpr DWORD kGenericAll = 0x10000000;
constexpr DWORD kGenericRead = 0x80000000;
constexpr DWORD kGenericWrite = 0x40000000;
constexpr DWORD kGenericExecute = 0x20000000;
constexpr DWORD kPrinterStatusPaused = 0x00000001;
constexpr DWORD kPrinterStatusPendingDeletion = 0x00000004;

// The access a printer handle is granted for the access asked: generic
// rights map onto printer rights; nothing asked means use.
DWORD GrantedAccess(DWORD desired) {
  if (desired == 0) return PRINTER_ACCESS_USE;
  DWORD a = desired & ~(kGenericAll | kGenericRead | kGenericWrite | kGenericExecute);
  if (desired & kGenericAll) a |= PRINTER_ALL_ACCESS;
  if (desired & (kGenericRead | kGenericWrite | kGenericExecute)) a |= PRINTER_ACCESS_USE;
  return a;
}

const char *kDataTypes[] = {"RAW",          "RAW [FF appended]", "RAW [FF auto]", "NT EMF 1.003",
                            "NT EMF 1.006", "NT EMF 1.007",      "NT EMF 1.008",  "TEXT",
                            "XPS2GDI"};

bool KnownDatatype(const std::string &t) {
  for (const char *d : kDataTypes)
    if (IEquals(t, d)) return true;
  return false;
}

bool KnownPrintProcessor(const std::string &name) {
  for (auto &p : M().spooler.printProcessors)
    if (IEquals(p, name)) return true;
  return false;
}

// A printer name the spooler accepts: not empty, not too long, without the
// characters that separate server, share and printer names.
bool ValidPrinterName(const std::string &name) {
  if (name.empty() || name.size() > 220) return false;
  return name.find_first_of(",\\!") == std::string::npos;
}

// Checks the fields of a level-2 record that name other spooler objects.
// Returns 0 or the error the spooler answers with.
DWORD CheckPrinterRecord(const PRINTER_INFO_2W &r) {
  std::string processor = ToUtf8(r.pPrintProcessor);
  if (processor.empty() || !KnownPrintProcessor(processor)) return ERROR_UNKNOWN_PRINTPROCESSOR;
  std::string datatype = ToUtf8(r.pDatatype);
  if (!datatype.empty() && !KnownDatatype(datatype)) return ERROR_INVALID_DATATYPE;
  if (r.pDriverName == nullptr || FindDriver(ToUtf8(r.pDriverName), kNativeEnvironment) == nullptr)
    return ERROR_UNKNOWN_PRINTER_DRIVER;
  std::vector<std::string> ports = SplitPorts(ToUtf8(r.pPortName));
  if (ports.empty()) return ERROR_UNKNOWN_PORT;
  for (auto &port : ports)
    if (!PortKnown(port)) return ERROR_UNKNOWN_PORT;
  return 0;
}

// Copies the settable fields of a level-2 record into a printer. The default
// attribute is per user and not kept with the printer.
void ApplyPrinterRecord(Printer &p, const PRINTER_INFO_2W &r) {
  p.shareName = ToUtf8(r.pShareName);
  p.portName = ToUtf8(r.pPortName);
  p.driverName = ToUtf8(r.pDriverName);
  p.comment = ToUtf8(r.pComment);
  p.location = ToUtf8(r.pLocation);
  p.sepFile = ToUtf8(r.pSepFile);
  p.printProcessor = ToUtf8(r.pPrintProcessor);
  p.datatype = r.pDatatype == nullptr || r.pDatatype[0] == 0 ? std::string("RAW") : ToUtf8(r.pDatatype);
  p.parameters = ToUtf8(r.pParameters);
  p.attributes = (r.Attributes & ~static_cast<DWORD>(PRINTER_ATTRIBUTE_DEFAULT)) | PRINTER_ATTRIBUTE_LOCAL;
  p.priority = r.Priority == 0 ? 1 : r.Priority;
  p.defaultPriority = r.DefaultPriority;
  p.startTime = r.StartTime;
  p.untilTime = r.UntilTime;
}

// Removes a printer from the spooler; the default printer goes with it. The
// name is taken by value: callers pass the printer's own name, which the
// removal moves or destroys.
void RemovePrinter(const std::string name) {
  auto &ps = M().spooler.printers;
  for (size_t i = 0; i < ps.size(); ++i) {
    if (!IEquals(ps[i].name, name)) continue;
    if (IEquals(M().spooler.defaultPrinter, name)) M().spooler.defaultPrinter.clear();
    ps.erase(ps.begin() + static_cast<long>(i));
    break;
  }
  for (auto &h : g_handles)
    if (IEquals(h.second.printer, name)) h.second.deleted = true;
}

std::string HandleText(HANDLE h) {
  return std::to_string(reinterpret_cast<uintptr_t>(h));
}

}  // namespace

namespace internal {

namespace {
// A monitor removed while the spooler ran keeps its DLL loaded only until
// the spooler stops; then it is gone from the list.
void ForgetRemovedMonitors() {
  auto &mons = M().spooler.monitors;
  mons.erase(std::remove_if(mons.begin(), mons.end(), [](const Monitor &m) { return m.removed; }),
             mons.end());
}
}  // namespace

void SpoolerStarted() {
  // The spooler loads the DLL of every registered monitor that it can find.
  ForgetRemovedMonitors();
  for (auto &m : M().spooler.monitors) m.loaded = FileExists(SystemPath(m.dll));
  ++g_epoch;
}

void SpoolerStopped() {
  ForgetRemovedMonitors();
  for (auto &m : M().spooler.monitors) m.loaded = false;
}

void SpoolerResetProcess() {
  g_handles.clear();
  g_epoch = 1;
}

}  // namespace internal

const char kNativeEnvironment[] = "Windows x64";

const char *DriverSubdir(const std::string &environment) {
  if (IEquals(environment, "Windows x64")) return "x64";
  if (IEquals(environment, "Windows NT x86")) return "W32X86";
  if (IEquals(environment, "Windows IA64")) return "IA64";
  return nullptr;
}

bool ResolveEnvironment(LPCWSTR given, std::string *environment) {
  std::string env = given == nullptr || given[0] == 0 ? std::string(kNativeEnvironment) : ToUtf8(given);
  if (DriverSubdir(env) == nullptr) {
    Fail(ERROR_INVALID_ENVIRONMENT);
    return false;
  }
  *environment = env;
  return true;
}

void Fail(DWORD error) {
  SetLastError(error);
  detail::Result("error " + std::to_string(error));
}

bool RefuseWhenStopped() {
  if (internal::SpoolerRunning()) return false;
  Fail(RPC_S_SERVER_UNAVAILABLE);
  return true;
}

bool StartListing(LPCWSTR server, LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (pcbNeeded == nullptr || pcReturned == nullptr) {
    Fail(RPC_X_NULL_REF_POINTER);
    return false;
  }
  *pcReturned = 0;
  if (RefuseWhenStopped()) return false;
  if (server != nullptr && server[0] != 0) {
    Fail(ERROR_INVALID_NAME);
    return false;
  }
  return true;
}

BOOL FinishPacked(const std::function<void(Packer &)> &pack, size_t count, LPBYTE buf, DWORD cbBuf,
                  LPDWORD pcbNeeded, LPDWORD pcReturned, const char *what) {
  Packer counter(nullptr, 0);
  pack(counter);
  DWORD needed = counter.Needed();
  *pcbNeeded = needed;
  if (pcReturned != nullptr) *pcReturned = 0;
  if (needed == 0) {
    detail::Result(std::string("0 ") + what);
    return TRUE;
  }
  if (buf == nullptr || cbBuf < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    detail::Result("error 122 needed " + std::to_string(needed));
    return FALSE;
  }
  Packer writer(buf, cbBuf);
  pack(writer);
  if (pcReturned != nullptr) *pcReturned = static_cast<DWORD>(count);
  detail::Result(std::to_string(count) + " " + what);
  return TRUE;
}

Printer *FindPrinter(const std::string &name) {
  for (auto &p : M().spooler.printers)
    if (IEquals(p.name, name)) return &p;
  return nullptr;
}

Driver *FindDriver(const std::string &name, const std::string &environment) {
  for (auto &d : M().spooler.drivers)
    if (IEquals(d.name, name) && IEquals(d.environment, environment)) return &d;
  return nullptr;
}

Monitor *FindMonitor(const std::string &name) {
  for (auto &m : M().spooler.monitors)
    if (!m.removed && IEquals(m.name, name)) return &m;
  return nullptr;
}

std::vector<std::string> SplitPorts(const std::string &portField) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= portField.size()) {
    size_t end = portField.find(',', start);
    if (end == std::string::npos) end = portField.size();
    std::string part = portField.substr(start, end - start);
    size_t a = part.find_first_not_of(' ');
    size_t b = part.find_last_not_of(' ');
    if (a != std::string::npos) out.push_back(part.substr(a, b - a + 1));
    start = end + 1;
  }
  return out;
}

bool PortKnown(const std::string &port) {
  for (auto &s : M().spooler.standardPorts)
    if (IEquals(s, port)) return true;
  for (auto &m : M().spooler.monitors) {
    if (m.removed) continue;
    for (auto &p : m.ports)
      if (IEquals(p, port)) return true;
  }
  return false;
}

bool PortsInUse(const std::vector<std::string> &ports) {
  for (auto &pr : M().spooler.printers)
    for (auto &used : SplitPorts(pr.portName))
      for (auto &p : ports)
        if (IEquals(used, p)) return true;
  return false;
}

Printer *PrinterOfHandle(HANDLE h, DWORD needAccess, bool anyOf) {
  auto it = g_handles.find(h);
  if (it == g_handles.end() || !detail::IsHandle(h, HandleKind::Printer)) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (RefuseWhenStopped()) return nullptr;
  const PrinterHandle &ph = it->second;
  if (ph.epoch != g_epoch || ph.printer.empty()) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (ph.deleted) {
    Fail(ERROR_INVALID_PRINTER_NAME);
    return nullptr;
  }
  bool granted = anyOf ? (ph.access & needAccess) != 0 : (ph.access & needAccess) == needAccess;
  if (!granted) {
    Fail(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  Printer *p = FindPrinter(ph.printer);
  if (p == nullptr) Fail(ERROR_INVALID_PRINTER_NAME);
  return p;
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

}  // namespace winsim

using namespace winsim;

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (detail::Enter("EnumPrintersW", std::to_string(Flags) + " level " + std::to_string(Level))) return FALSE;
  if (!StartListing(Name, pcbNeeded, pcReturned)) return FALSE;
  if (Level != 2) {
    Fail(ERROR_INVALID_LEVEL);
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
  return FinishPacked(pack, list.size(), pPrinterEnum, cbBuf, pcbNeeded, pcReturned, "printers");
}

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault) {
  std::string name = ToUtf8(pPrinterName);
  DWORD desired = pDefault == nullptr ? 0 : pDefault->DesiredAccess;
  if (detail::Enter("OpenPrinterW", name + " access " + std::to_string(desired))) {
    if (phPrinter != nullptr) *phPrinter = nullptr;
    return FALSE;
  }
  if (phPrinter == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phPrinter = nullptr;
  if (RefuseWhenStopped()) return FALSE;
  PrinterHandle ph;
  ph.epoch = g_epoch;
  ph.access = GrantedAccess(desired);
  if (!name.empty()) {
    Printer *p = FindPrinter(name);
    if (p == nullptr || (p->status & kPrinterStatusPendingDeletion)) {
      Fail(ERROR_INVALID_PRINTER_NAME);
      return FALSE;
    }
    ph.printer = p->name;
  }
  if (pDefault != nullptr && pDefault->pDatatype != nullptr && !KnownDatatype(ToUtf8(pDefault->pDatatype))) {
    Fail(ERROR_INVALID_DATATYPE);
    return FALSE;
  }
  HANDLE h = detail::NewHandle(HandleKind::Printer);
  g_handles[h] = ph;
  *phPrinter = h;
  detail::Result("handle " + HandleText(h));
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter) {
  bool failed = detail::Enter("ClosePrinter", HandleText(hPrinter));
  auto it = g_handles.find(hPrinter);
  if (failed) {
    // The spooler's refusal does not keep the client's side of the handle.
    if (it != g_handles.end()) {
      g_handles.erase(it);
      detail::DropHandle(hPrinter);
    }
    return FALSE;
  }
  if (it == g_handles.end()) {
    Fail(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  // The client's side of the handle goes whatever the spooler answers.
  uint64_t epoch = it->second.epoch;
  g_handles.erase(it);
  detail::DropHandle(hPrinter);
  if (RefuseWhenStopped()) return FALSE;
  if (epoch != g_epoch) {
    Fail(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  detail::Result("ok");
  return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf, LPDWORD pcbNeeded) {
  if (detail::Enter("GetPrinterW", HandleText(hPrinter) + " level " + std::to_string(Level))) return FALSE;
  if (pcbNeeded == nullptr) {
    Fail(RPC_X_NULL_REF_POINTER);
    return FALSE;
  }
  *pcbNeeded = 0;
  Printer *p = PrinterOfHandle(hPrinter, PRINTER_ACCESS_USE | PRINTER_ACCESS_ADMINISTER, true);
  if (p == nullptr) return FALSE;
  if (Level != 2) {
    Fail(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  Printer copy = *p;
  auto pack = [&](Packer &pk) {
    auto *rec = static_cast<PRINTER_INFO_2W *>(pk.Records(sizeof(PRINTER_INFO_2W)));
    PackPrinter2(pk, rec, copy);
  };
  return FinishPacked(pack, 1, pPrinter, cbBuf, pcbNeeded, nullptr, "record");
}

BOOL WINAPI SetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD Command) {
  if (detail::Enter("SetPrinterW", HandleText(hPrinter) + " level " + std::to_string(Level) + " command " +
                                       std::to_string(Command)))
    return FALSE;
  Printer *p = PrinterOfHandle(hPrinter, PRINTER_ACCESS_ADMINISTER);
  if (p == nullptr) return FALSE;
  if (Level == 0) {
    switch (Command) {
      case 1:  // pause
        p->status |= kPrinterStatusPaused;
        break;
      case 2:  // resume
        p->status &= ~kPrinterStatusPaused;
        break;
      case PRINTER_CONTROL_PURGE:
        p->cJobs = 0;
        // A printer deleted while it still had jobs goes once they are gone.
        if (p->status & kPrinterStatusPendingDeletion) RemovePrinter(p->name);
        break;
      default:
        Fail(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    detail::Result("ok");
    return TRUE;
  }
  if (Level != 2) {
    Fail(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (pPrinter == nullptr || Command != 0) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto &r = *reinterpret_cast<const PRINTER_INFO_2W *>(pPrinter);
  std::string newName = ToUtf8(r.pPrinterName);
  if (newName.empty()) newName = p->name;
  if (!ValidPrinterName(newName)) {
    Fail(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  if (!IEquals(newName, p->name) && FindPrinter(newName) != nullptr) {
    Fail(ERROR_PRINTER_ALREADY_EXISTS);
    return FALSE;
  }
  if (DWORD err = CheckPrinterRecord(r)) {
    Fail(err);
    return FALSE;
  }
  ApplyPrinterRecord(*p, r);
  if (newName != p->name) {
    // A rename: open handles and the default printer follow the printer.
    for (auto &h : g_handles)
      if (IEquals(h.second.printer, p->name)) h.second.printer = newName;
    if (IEquals(M().spooler.defaultPrinter, p->name)) M().spooler.defaultPrinter = newName;
    p->name = newName;
  }
  detail::Result("ok");
  return TRUE;
}

HANDLE WINAPI AddPrinterW(LPWSTR pName, DWORD Level, LPBYTE pPrinter) {
  const auto *r = reinterpret_cast<const PRINTER_INFO_2W *>(pPrinter);
  std::string name = Level == 2 && r != nullptr ? ToUtf8(r->pPrinterName) : std::string();
  if (detail::Enter("AddPrinterW", name)) return nullptr;
  if (pName != nullptr && pName[0] != 0) {
    Fail(ERROR_INVALID_NAME);
    return nullptr;
  }
  if (RefuseWhenStopped()) return nullptr;
  if (Level != 2) {
    Fail(ERROR_INVALID_LEVEL);
    return nullptr;
  }
  if (r == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  if (!ValidPrinterName(name)) {
    Fail(ERROR_INVALID_PRINTER_NAME);
    return nullptr;
  }
  if (FindPrinter(name) != nullptr) {
    Fail(ERROR_PRINTER_ALREADY_EXISTS);
    return nullptr;
  }
  if (DWORD err = CheckPrinterRecord(*r)) {
    Fail(err);
    return nullptr;
  }
  Printer p;
  p.name = name;
  ApplyPrinterRecord(p, *r);
  M().spooler.printers.push_back(p);
  PrinterHandle ph;
  ph.printer = name;
  ph.access = PRINTER_ALL_ACCESS;
  ph.epoch = g_epoch;
  HANDLE h = detail::NewHandle(HandleKind::Printer);
  g_handles[h] = ph;
  detail::Result("handle " + HandleText(h));
  return h;
}

BOOL WINAPI DeletePrinter(HANDLE hPrinter) {
  if (detail::Enter("DeletePrinter", HandleText(hPrinter))) return FALSE;
  Printer *p = PrinterOfHandle(hPrinter, DELETE);
  if (p == nullptr) return FALSE;
  if (p->cJobs > 0) {
    // The printer goes once its jobs are gone; until then it takes no new
    // handles and keeps its name.
    p->status |= kPrinterStatusPendingDeletion;
    detail::Result("pending deletion");
    return TRUE;
  }
  RemovePrinter(p->name);
  detail::Result("ok");
  return TRUE;
}

BOOL WINAPI GetPrinterDriverDirectoryW(LPWSTR pName, LPWSTR pEnvironment, DWORD Level,
                                       LPBYTE pDriverDirectory, DWORD cbBuf, LPDWORD pcbNeeded) {
  std::string env;
  if (detail::Enter("GetPrinterDriverDirectoryW", ToUtf8(pEnvironment))) return FALSE;
  if (pcbNeeded == nullptr) {
    Fail(RPC_X_NULL_REF_POINTER);
    return FALSE;
  }
  if (RefuseWhenStopped()) return FALSE;
  if (Level != 1) {
    Fail(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  if (!ResolveEnvironment(pEnvironment, &env)) return FALSE;
  std::u16string dir =
      ToUtf16(M().spooler.driverDirText.empty() ? M().spooler.driverRoot + "\\" + DriverSubdir(env)
                                                : M().spooler.driverDirText);
  DWORD needed = static_cast<DWORD>((dir.size() + 1) * 2);
  *pcbNeeded = needed;
  if (pDriverDirectory == nullptr || cbBuf < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    detail::Result("error 122 needed " + std::to_string(needed));
    return FALSE;
  }
  std::memcpy(pDriverDirectory, dir.c_str(), needed);
  detail::Result("ok");
  return TRUE;
}

BOOL WINAPI SpoolGetDefaultPrinterW(LPWSTR pszBuffer, LPDWORD pcchBuffer) {
  if (detail::Enter("SpoolGetDefaultPrinterW", "")) return FALSE;
  if (pcchBuffer == nullptr) {
    Fail(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (RefuseWhenStopped()) return FALSE;
  const std::string &def = M().spooler.defaultPrinter;
  if (def.empty()) {
    Fail(ERROR_FILE_NOT_FOUND);
    return FALSE;
  }
  std::u16string name = ToUtf16(def);
  DWORD need = static_cast<DWORD>(name.size() + 1);
  if (pszBuffer == nullptr || *pcchBuffer < need) {
    *pcchBuffer = need;
    Fail(ERROR_INSUFFICIENT_BUFFER);
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
  if (RefuseWhenStopped()) return FALSE;
  auto &printers = M().spooler.printers;
  if (name.empty()) {
    // With no name the first printer becomes the default when there is none.
    if (M().spooler.defaultPrinter.empty() && !printers.empty())
      M().spooler.defaultPrinter = printers[0].name;
    detail::Result("ok");
    return TRUE;
  }
  Printer *p = FindPrinter(name);
  if (p == nullptr || (p->status & kPrinterStatusPendingDeletion)) {
    Fail(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  M().spooler.defaultPrinter = p->name;
  detail::Result("ok");
  return TRUE;
}
