#include "sweep/sweep.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "support/fixture.h"
#include "support/scenario.h"

namespace sweep {

namespace {

const char kSettingsRoot[] = "HKCU\\Software\\Garrowe Software KFT\\Morvalente\\Morvalentes\\";
const char kSessionManager[] = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kRunKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char kInstallerDir[] = "C:\\Program Files\\Morvalente\\Drivers";
const char kDriverName[] = "Morvalente printer";

// Gives a printer a settings name, in both places the installer reads it.
void SetSettingsName(winsim::Printer &p, const std::string &name) {
  mrvtest::PutPrinterString(p, "", "SubKey", name);
  mrvtest::PutPrinterString(p, "DsUser", "SubKey", name);
  winsim::RegKey &key = winsim::EnsureKey(std::string(kSettingsRoot) + name);
  winsim::RegValue mark;
  mark.name = "deleted";
  mark.type = REG_DWORD;
  mark.data = {1, 0, 0, 0};
  key.values["deleted"] = mark;
}

// A first install on the fresh machine: the product is in place and its tray
// program runs.
void Installed() {
  ::testing::AssertionResult installed = mrvtest::InstallFirst();
  if (!installed) {
    std::fprintf(stderr, "sweep: %s\n", installed.message());
    std::abort();
  }
}

// An installed product with two printers that carry settings names (one of
// them the default printer, with a comment and a location), and a printer of
// another maker.
void InstalledWithTwoPrinters() {
  Installed();
  winsim::Printer *first = mrvtest::FindPrinter("Morvalente");
  SetSettingsName(*first, "Office");
  winsim::Printer second = *first;
  second.name = "Morvalente Invoices";
  second.comment = "Invoices to PDF";
  second.location = "Second floor";
  second.data.clear();
  SetSettingsName(second, "Invoices");
  winsim::M().spooler.printers.push_back(second);
  winsim::Driver other;
  other.name = "Generic / Text Only";
  other.environment = "Windows x64";
  other.driverPath = "C:\\Windows\\System32\\spool\\drivers\\x64\\3\\tty.dll";
  winsim::M().spooler.drivers.push_back(other);
  winsim::Printer laser;
  laser.name = "Office Laser";
  laser.portName = "LPT1:";
  laser.driverName = other.name;
  winsim::M().spooler.printers.push_back(laser);
  winsim::M().spooler.defaultPrinter = "Morvalente Invoices";
}

// As above, but the printers carry their settings names only as plain
// printer data, as an older version of the product left them.
void InstalledWithPlainSettingsOnly() {
  InstalledWithTwoPrinters();
  for (auto &p : winsim::M().spooler.printers) p.data.erase("dsuser");
}

void InstalledWithAnotherDefault() {
  InstalledWithTwoPrinters();
  winsim::M().spooler.defaultPrinter = "Office Laser";
}

// An installed product with a pending rename of the installer's driver file
// and a pending deletion of a file that is still there.
void InstalledWithPendingRename() {
  Installed();
  winsim::WriteHostFile("C:\\Windows\\Temp\\old.tmp", "old");
  std::string drv = std::string(kInstallerDir) + "\\gwrdrv64.dll";
  winsim::SetRegMultiSz(kSessionManager, "PendingFileRenameOperations",
                        {"\\??\\C:\\Windows\\Temp\\old.tmp", "", "\\??\\" + drv, "\\??\\" + drv + ".new"});
}

// An installed product whose monitor file another process keeps open
// without letting it be deleted: an uninstall hands it over for deletion at
// restart.
void InstalledWithMonitorFileHeld() {
  Installed();
  winsim::FileHold hold;
  hold.path = "C:\\Windows\\System32\\gwrmon64.dll";
  hold.share = FILE_SHARE_READ;
  hold.holder = "scanner";
  winsim::M().holds.push_back(hold);
}

// An older build of the monitor installed, whose DLL the spooler keeps
// loaded after its removal until it stops; the installer carries the
// current build.
void OlderMonitorInstalled() {
  const std::string monitor = std::string(kInstallerDir) + "\\gwrmon64.dll";
  winsim::WriteHostFile(monitor, winsim::MakeComponentFile("gwrmon64.dll", 2400));
  InstalledWithTwoPrinters();
  winsim::WriteHostFile(monitor, winsim::MakeComponentFile("gwrmon64.dll", 2563));
  winsim::M().spooler.monitorDllStaysLoaded = true;
}

std::vector<Scenario> MakeScenarios() {
  std::vector<Scenario> s;
  s.push_back({"in", u"install.exe in", Kind::Install, {1, 100, 101}, 1, [] {}});
  s.push_back({"reinstall", u"install.exe in", Kind::Install, {1, 100, 101}, 1, InstalledWithTwoPrinters});
  s.push_back({"reinstall_plain",
               u"install.exe in",
               Kind::Install,
               {1, 100, 101},
               1,
               InstalledWithPlainSettingsOnly});
  s.push_back({"un", u"install.exe un", Kind::Uninstall, {2, 100, 101}, 2, InstalledWithTwoPrinters});
  s.push_back({"in_notray", u"install.exe in_notray", Kind::Install, {1, 100, 101}, 1, [] {}});
  s.push_back({"removetray", u"install.exe removetray", Kind::Query, {6}, 6, Installed});
  s.push_back({"onInit", u"install.exe onInit", Kind::Query, {200, 102, 3}, 200, InstalledWithPendingRename});
  s.push_back({"onChkDrv", u"install.exe onChkDrv", Kind::Query, {103, 3}, 103, InstalledWithTwoPrinters});
  s.push_back({"upgrade", u"install.exe install", Kind::Install, {1, 100, 101}, 1, OlderMonitorInstalled});
  s.push_back({"un_held",
               u"install.exe uninstall",
               Kind::Uninstall,
               {2, 100, 101},
               101,
               InstalledWithMonitorFileHeld});
  s.push_back({"def.set", u"install.exe def.set", Kind::Query, {4}, 4, InstalledWithAnotherDefault});
  return s;
}

std::string Join(const std::vector<std::string> &v, const char *sep) {
  std::string out;
  for (size_t i = 0; i < v.size(); ++i) out += (i ? sep : "") + v[i];
  return out;
}

bool EndsWith(const std::string &s, const std::string &tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Index in the journal of the k-th entry of `call`, or -1.
long EntryIndex(const std::vector<winsim::JournalEntry> &journal, const std::string &call, uint32_t k) {
  uint32_t seen = 0;
  for (size_t i = 0; i < journal.size(); ++i)
    if (journal[i].call == call && ++seen == k) return static_cast<long>(i);
  return -1;
}

// The file a ReadFile or WriteFile at `index` works on: the last file opened
// for that direction before it.
std::string FileOf(const std::vector<winsim::JournalEntry> &journal, long index, bool source) {
  const std::string dir = winsim::Lower(std::string(kInstallerDir) + "\\");
  for (long i = index - 1; i >= 0; --i) {
    const winsim::JournalEntry &e = journal[static_cast<size_t>(i)];
    if (e.call != "CreateFileW") continue;
    bool fromInstallerDir = winsim::Lower(e.args).rfind(dir, 0) == 0;
    if (fromInstallerDir == source) return e.args;
  }
  return std::string();
}

bool IsMonitorFile(const std::string &path) {
  return EndsWith(winsim::Lower(path), "\\gwrmon64.dll");
}

bool IsSourceFile(const std::string &path) {
  return winsim::Lower(path).rfind(winsim::Lower(std::string(kInstallerDir) + "\\"), 0) == 0;
}

// A fresh directory for a machine: in memory (/dev/shm) when the host has
// it, since the sweep copies a machine for every run.
std::string MachineDir() {
  std::error_code ec;
  if (std::filesystem::is_directory("/dev/shm", ec)) {
    std::string tmpl = "/dev/shm/mrvsweep-XXXXXX";
    if (mkdtemp(tmpl.data()) != nullptr) return tmpl;
  }
  return mrvtest::MakeTempDir();
}

// A file left behind by an uninstall that says it is done, where that is
// how the run is meant to behave: the system refused to schedule a locked
// file for deletion at restart (such a path is dropped without a word), or
// memory ran out while a locked path was being remembered (the path is
// dropped, the file stays).
bool LeftoverAccepted(const std::vector<winsim::JournalEntry> &journal, long index) {
  if (index < 0) return false;
  const winsim::JournalEntry &e = journal[static_cast<size_t>(index)];
  if (e.call == "MoveFileExW") return true;
  if (e.call != "GlobalAlloc") return false;
  for (long i = index - 1; i >= 0; --i) {
    const winsim::JournalEntry &before = journal[static_cast<size_t>(i)];
    if (before.call == "GlobalAlloc" || before.call == "HeapAlloc" || before.call == "HeapReAlloc") continue;
    return before.call == "DeleteFileW" && before.result.rfind("error", 0) == 0;
  }
  return false;
}

// A full path of a file: a drive letter, a colon and a backslash, and no
// separator at its end.
bool FullFilePath(const std::string &path) {
  if (path.size() < 4 || path[1] != ':' || path[2] != '\\') return false;
  char drive = path[0];
  if (!((drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z'))) return false;
  return path.back() != '\\' && path.back() != '/';
}

// The program a CreateProcessW entry starts: its command line's first word,
// without the quotes around it.
std::string ProgramOf(const std::string &args) {
  size_t start = args.find('"');
  if (start == std::string::npos) return args.substr(0, args.find(' '));
  size_t end = args.find('"', start + 1);
  return args.substr(start + 1, end == std::string::npos ? std::string::npos : end - start - 1);
}

}  // namespace

std::vector<std::string> UnsafeFileCalls(const std::vector<winsim::JournalEntry> &journal) {
  std::vector<std::string> out;
  for (const auto &e : journal) {
    std::string path;
    if (e.call == "CreateFileW" || e.call == "DeleteFileW") {
      path = e.args;
    } else if (e.call == "MoveFileExW") {
      path = e.args.substr(0, e.args.find(" -> "));
    } else if (e.call == "CreateProcessW") {
      path = ProgramOf(e.args);
    } else {
      continue;
    }
    // An empty name names no file at all; the system refuses it.
    if (!path.empty() && !FullFilePath(path)) out.push_back(e.call + "(" + path + ")");
  }
  return out;
}

uint32_t FindPosition(const std::vector<winsim::JournalEntry> &journal, const std::string &call,
                      const std::string &args, const std::string &after) {
  bool started = after.empty();
  uint32_t k = 0;
  for (const auto &e : journal) {
    if (e.call == call) {
      ++k;
      if (started && (args.empty() || e.args == args)) return k;
    }
    if (!started && e.call == after) started = true;
  }
  return 0;
}

const std::vector<Scenario> &Scenarios() {
  static const std::vector<Scenario> all = MakeScenarios();
  return all;
}

const Scenario *FindScenario(const std::string &name) {
  for (auto &s : Scenarios())
    if (s.name == name) return &s;
  return nullptr;
}

// Error codes per call. ERROR_INSUFFICIENT_BUFFER on a query's second call
// is what the spooler answers when records were added between the two calls;
// on its first call it comes without the size needed, as no spooler answers,
// which probes the size protocol's edges. Left out: Sleep and GetAsyncKeyState, which have no
// failure; CloseHandle, RegCloseKey and CloseServiceHandle, which fail only
// for a handle that is not one (a failure injected on a valid handle would
// stand for no machine there is).
const std::map<std::string, std::vector<DWORD>> &FaultTable() {
  static const std::map<std::string, std::vector<DWORD>> table = {
      // memory
      {"GlobalAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
      {"HeapAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
      {"HeapReAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
      {"LocalAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
      // files
      {"CreateFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_PATH_NOT_FOUND}},
      {"ReadFile", {ERROR_ACCESS_DENIED, 33 /* ERROR_LOCK_VIOLATION */}},
      {"WriteFile", {ERROR_DISK_FULL, ERROR_ACCESS_DENIED}},
      {"DeleteFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
      {"GetFileAttributesW", {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND}},
      {"MoveFileExW", {ERROR_ACCESS_DENIED}},
      {"GetFileVersionInfoSizeW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_RESOURCE_TYPE_NOT_FOUND}},
      {"GetFileVersionInfoW", {ERROR_ACCESS_DENIED, ERROR_RESOURCE_TYPE_NOT_FOUND}},
      {"VerQueryValueW", {ERROR_RESOURCE_TYPE_NOT_FOUND}},
      // spooler
      {"EnumPrintersW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER}},
      {"EnumMonitorsW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER}},
      {"EnumPrinterDriversW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER}},
      {"GetPrinterDriverDirectoryW",
       {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER}},
      {"OpenPrinterW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INVALID_PRINTER_NAME}},
      {"ClosePrinter", {RPC_S_SERVER_UNAVAILABLE}},
      {"GetPrinterW",
       {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INVALID_PRINTER_NAME,
        ERROR_INSUFFICIENT_BUFFER}},
      {"SetPrinterW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INVALID_PRINTER_NAME}},
      {"GetPrinterDriverW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INSUFFICIENT_BUFFER}},
      {"AddPrinterW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_PRINTER_ALREADY_EXISTS}},
      {"DeletePrinter", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_INVALID_PRINTER_NAME}},
      {"AddMonitorW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_PRINT_MONITOR_ALREADY_INSTALLED}},
      {"DeleteMonitorW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_PRINT_MONITOR_IN_USE}},
      {"AddPrinterDriverExW", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED}},
      {"DeletePrinterDriverExW",
       {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED, ERROR_PRINTER_DRIVER_IN_USE}},
      // (ERROR_FILE_NOT_FOUND is the answer for a value that is not there;
      // a machine without the value is a scenario of its own.)
      {"GetPrinterDataA", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED}},
      {"GetPrinterDataExA", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED}},
      {"SetPrinterDataA", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED}},
      {"SetPrinterDataExA", {RPC_S_SERVER_UNAVAILABLE, ERROR_ACCESS_DENIED}},
      {"SpoolGetDefaultPrinterW",
       {RPC_S_SERVER_UNAVAILABLE, ERROR_FILE_NOT_FOUND, ERROR_INSUFFICIENT_BUFFER}},
      {"SpoolSetDefaultPrinterW", {RPC_S_SERVER_UNAVAILABLE, ERROR_INVALID_PRINTER_NAME}},
      // services
      {"OpenSCManagerW", {ERROR_ACCESS_DENIED}},
      {"OpenServiceW", {ERROR_ACCESS_DENIED, 1060 /* ERROR_SERVICE_DOES_NOT_EXIST */}},
      {"QueryServiceStatus", {ERROR_ACCESS_DENIED}},
      {"StartServiceW", {ERROR_SERVICE_ALREADY_RUNNING, ERROR_ACCESS_DENIED}},
      {"ControlService", {ERROR_SERVICE_NOT_ACTIVE, ERROR_ACCESS_DENIED, 1061 /* cannot accept control */}},
      // registry
      {"RegOpenKeyExA", {ERROR_ACCESS_DENIED, ERROR_FILE_NOT_FOUND}},
      {"RegQueryValueExW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_MORE_DATA}},
      {"RegSetValueExW", {ERROR_ACCESS_DENIED}},
      {"RegDeleteValueA", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED}},
      // processes, windows, dialogs
      {"CreateMutexA", {ERROR_ACCESS_DENIED}},
      {"WaitForSingleObject", {ERROR_INVALID_HANDLE}},
      {"FindWindowW", {ERROR_ACCESS_DENIED}},
      {"PostMessageW", {ERROR_ACCESS_DENIED, ERROR_INVALID_WINDOW_HANDLE}},
      {"CreateProcessW", {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, 193 /* ERROR_BAD_EXE_FORMAT */}},
      {"IsWindow", {ERROR_INVALID_WINDOW_HANDLE}},
      {"DialogBoxParamW", {ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_ACCESS_DENIED}},
      {"SetDlgItemTextW", {ERROR_INVALID_WINDOW_HANDLE}},
      {"SetWindowTextW", {ERROR_INVALID_WINDOW_HANDLE}},
      {"EndDialog", {ERROR_INVALID_WINDOW_HANDLE}},
      // system
      {"GetVersionExA", {ERROR_INVALID_PARAMETER}},
      {"GetModuleFileNameW", {ERROR_NOT_ENOUGH_MEMORY}},
      {"GetSystemDirectoryW", {ERROR_NOT_ENOUGH_MEMORY}},
      {"FormatMessageW", {317 /* ERROR_MR_MID_NOT_FOUND */, ERROR_NOT_ENOUGH_MEMORY}},
      {"CommandLineToArgvW", {ERROR_NOT_ENOUGH_MEMORY}},
      {"MultiByteToWideChar", {1113 /* ERROR_NO_UNICODE_TRANSLATION */, ERROR_INVALID_PARAMETER}},
  };
  return table;
}

std::string ProductState::Describe() const {
  std::vector<std::string> names(printers.begin(), printers.end());
  return std::string("monitor ") + (monitor ? "yes" : "no") + ", driver " + (driver ? "yes" : "no") +
         ", printers [" + Join(names, ", ") + "], Run value " + (runValue ? "yes" : "no") +
         ", monitor file " + (monitorFile ? (monitorFilePending ? "to be deleted at restart" : "yes") : "no");
}

ProductState ReadProductState() {
  ProductState s;
  for (auto &m : winsim::M().spooler.monitors)
    if (!m.removed && m.name == "Morvalente:") s.monitor = true;
  for (auto &d : winsim::M().spooler.drivers)
    if (d.name == kDriverName && d.environment == "Windows x64") s.driver = true;
  for (auto &p : winsim::M().spooler.printers)
    if (p.driverName == kDriverName) s.printers.insert(p.name);
  s.runValue = winsim::GetRegValue(kRunKey, "MorvalenteTray") != nullptr;
  const std::string monitorFile = winsim::M().systemDir + "\\gwrmon64.dll";
  s.monitorFile = winsim::FileExists(monitorFile);
  std::vector<std::string> strings = mrvtest::PendingStrings();
  for (size_t i = 0; i + 1 < strings.size(); i += 2)
    if (strings[i + 1].empty() && winsim::IEquals(strings[i], "\\??\\" + monitorFile))
      s.monitorFilePending = true;
  return s;
}

Bench::Bench(const Scenario &scenario) : scenario_(scenario) {
  templateDir_ = MachineDir();
  workDir_ = MachineDir();
  winsim::NewMachine(templateDir_);
  scenario_.prepare();
  winsim::ClearFaults();
  winsim::SaveMachine();
}

Bench::~Bench() {
  mrvtest::RemoveTree(templateDir_);
  mrvtest::RemoveTree(workDir_);
}

Outcome Bench::Execute(const std::string &call, DWORD error, uint32_t k) {
  namespace fs = std::filesystem;
  mrvtest::RemoveTree(workDir_);
  fs::copy(templateDir_, workDir_, fs::copy_options::recursive);
  if (!winsim::LoadMachine(workDir_)) {
    std::fprintf(stderr, "sweep: cannot load the machine copy %s\n", workDir_.c_str());
    std::abort();
  }
  if (!call.empty()) winsim::AddFault(call, error, k, 1);
  mrvtest::RunResult r = mrvtest::RunCommand(scenario_.commandLine, true);
  winsim::ClearFaults();
  Outcome run;
  run.exitCode = r.exitCode;
  run.waitedMs = r.waitedMs;
  run.leaks = r.leaks;
  run.log = r.log;
  run.callCounts = winsim::P().callCounts;
  run.journal = winsim::P().journal;
  run.after = ReadProductState();
  return run;
}

bool MustReportError(const Scenario &scenario, const std::vector<winsim::JournalEntry> &journal, long index,
                     DWORD error) {
  if (scenario.kind == Kind::Query || index < 0) return false;
  const winsim::JournalEntry &e = journal[static_cast<size_t>(index)];
  const std::string &call = e.call;
  // The spooler check and every restart of the spooler in a run report
  // errors 1, 2 and 5 (a stop refused because the service was not running
  // is not one).
  if (call == "OpenSCManagerW" || call == "OpenServiceW") return true;
  if (call == "ControlService") return error != ERROR_SERVICE_NOT_ACTIVE;
  // Errors 6 and 7 of the run's preparation.
  if (call == "GetPrinterDriverDirectoryW" || call == "GetSystemDirectoryW") return true;
  // Errors 13, 15 and 17: a refused driver, a refused printer, a refused
  // deletion.
  if (call == "AddPrinterDriverExW" || call == "AddPrinterW" || call == "DeletePrinter") return true;
  // Error 16: the printer to delete cannot be opened.
  if (call == "OpenPrinterW") return EndsWith(e.args, " access 65540");
  // Errors 10 and 8 of the driver's files, whose copies report at once (the
  // monitor file is copied a second time, around a spooler restart, before
  // its copy reports).
  if (call == "CreateFileW") return IsSourceFile(e.args) && !IsMonitorFile(e.args);
  if (call == "ReadFile") {
    std::string file = FileOf(journal, index, true);
    return !file.empty() && !IsMonitorFile(file);
  }
  if (call == "WriteFile") {
    std::string file = FileOf(journal, index, false);
    return !file.empty() && !IsMonitorFile(file);
  }
  return false;
}

bool MustReportError(const Scenario &scenario, const std::string &call, const std::string &args,
                     DWORD error) {
  std::vector<winsim::JournalEntry> one = {{call, args, ""}};
  return MustReportError(scenario, one, 0, error);
}

std::string Finding::Describe() const {
  std::ostringstream os;
  os << scenario << ": " << call << " #" << k << " fails with " << error << " (" << site << "): exit "
     << exitCode << "; " << Join(broken, "; ");
  return os.str();
}

Finding Check(const Scenario &scenario, const Outcome &baseline, const Outcome &faulted,
              const std::string &call, DWORD error, uint32_t k) {
  Finding f;
  f.scenario = scenario.name;
  f.call = call;
  f.error = error;
  f.k = k;
  f.exitCode = faulted.exitCode;
  long index = EntryIndex(baseline.journal, call, k);
  if (index >= 0) f.site = baseline.journal[static_cast<size_t>(index)].args;

  std::set<unsigned> exitCodes = scenario.exitCodes;
  // A command line that cannot be split names no command.
  if (call == "CommandLineToArgvW") exitCodes.insert(6);
  if (exitCodes.count(faulted.exitCode) == 0)
    f.broken.push_back("exit code " + std::to_string(faulted.exitCode) + " is not one of the command's");
  if (faulted.waitedMs > kRunTimeLimitMs)
    f.broken.push_back("waited " + std::to_string(faulted.waitedMs) + " ms of virtual time");
  if (!faulted.leaks.empty()) f.broken.push_back("left behind: " + Join(faulted.leaks, ", "));
  for (const std::string &path : UnsafeFileCalls(faulted.journal))
    f.broken.push_back("a file call on a path that is not a full file path: " + path);
  f.mustReport = MustReportError(scenario, baseline.journal, index, error);
  if (f.mustReport && faulted.exitCode != 100)
    f.broken.push_back("the failure is an error line, yet the run wrote none");

  // A run that says it succeeded leaves the product's objects as the run
  // without fault does.
  bool succeeded = (scenario.kind == Kind::Install && (faulted.exitCode == 1 || faulted.exitCode == 101)) ||
                   (scenario.kind == Kind::Uninstall && (faulted.exitCode == 2 || faulted.exitCode == 101));
  if (succeeded) {
    const ProductState &got = faulted.after;
    ProductState a = baseline.after, b = got;
    // Registering the tray program is not part of the run's outcome: its
    // failures are silent by design. The monitor's file is judged below.
    a.runValue = b.runValue = false;
    if (!(a == b))
      f.broken.push_back("reported success but left " + faulted.after.Describe() + " instead of " +
                         baseline.after.Describe());
    // An install leaves the monitor's file in place for good; an uninstall
    // leaves it gone, or to be deleted at restart.
    if (scenario.kind == Kind::Install && (!got.monitorFile || got.monitorFilePending))
      f.broken.push_back("reported success but the monitor file is " +
                         std::string(got.monitorFile ? "to be deleted at restart" : "missing"));
    if (scenario.kind == Kind::Uninstall && got.monitorFile && !got.monitorFilePending &&
        !LeftoverAccepted(baseline.journal, index))
      f.broken.push_back("reported success but the monitor file stays");
  }
  return f;
}

bool FullSweep() {
  const char *v = std::getenv("MRV_SWEEP_FULL");
  return v != nullptr && v[0] == '1';
}

std::vector<uint32_t> Positions(uint32_t count) {
  std::vector<uint32_t> out;
  const uint32_t kAll = 24;
  if (FullSweep() || count <= kAll) {
    for (uint32_t k = 1; k <= count; ++k) out.push_back(k);
    return out;
  }
  // The first and last ones, and evenly spaced ones between.
  std::set<uint32_t> pick;
  for (uint32_t k = 1; k <= 8; ++k) pick.insert(k);
  for (uint32_t k = count - 3; k <= count; ++k) pick.insert(k);
  const uint32_t between = 12;
  for (uint32_t i = 1; i <= between; ++i) pick.insert(8 + (count - 12) * i / (between + 1));
  out.assign(pick.begin(), pick.end());
  return out;
}

}  // namespace sweep
