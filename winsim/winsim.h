// winsim's public test API: the simulated machine, its persistence, fault
// injection, the call journal and the resource accounting.
//
// The installer never includes this header; tests and the winsim tool do.
// Strings in the model are UTF-8; the Win32 layer converts at its boundary.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "winsim/win32.h"

namespace winsim {

// ---------------------------------------------------------------------------
// The machine model
// ---------------------------------------------------------------------------

struct RegValue {
  std::string name;  // as written (case kept)
  DWORD type = REG_SZ;
  std::vector<uint8_t> data;
};

struct RegKey {
  std::string path;                        // "HKLM\\SOFTWARE\\..." as created (case kept)
  std::map<std::string, RegValue> values;  // keyed by lower-case name
};

// A file held open by another process, with the sharing it allows.
struct FileHold {
  std::string path;          // Windows path, e.g. "C:\\Windows\\System32\\x.dll"
  DWORD share = 0;           // FILE_SHARE_* bits the holder allows
  int64_t releaseAtMs = -1;  // virtual time at which the holder lets go; -1 = never
  std::string holder;        // who holds it (for show/diff)
};

struct Service {
  std::string name;
  DWORD state = SERVICE_RUNNING;
  DWORD pendingTarget = 0;    // SERVICE_RUNNING or SERVICE_STOPPED while pending
  uint64_t pendingUntil = 0;  // virtual time at which the pending change completes
  uint32_t startDelayMs = 0;  // time from a start request to running
  uint32_t stopDelayMs = 0;   // time from a stop request to stopped
  bool neverStarts = false;   // start requests leave it in START_PENDING for good
  bool ignoresStop = false;   // stop requests succeed but it keeps running
  DWORD stopError = 0;        // when not 0, ControlService(STOP) fails with this code
  bool unopenable = false;    // OpenServiceW fails with ERROR_ACCESS_DENIED
};

struct Monitor {
  std::string name;
  std::string environment;
  std::string dll;                 // file name in the system directory
  std::vector<std::string> ports;  // ports the monitor provides
  bool loaded = false;             // DLL loaded by the running spooler (file in use)
  bool removed = false;            // deleted, but its DLL stays loaded until the spooler stops
};

struct Driver {
  std::string name;
  std::string environment;
  DWORD version = 3;
  std::string driverPath, dataFile, configFile, helpFile;  // the spooler's own copies
  std::vector<std::string> dependentFiles;
  std::string monitorName, defaultDataType;
  std::string mfgName, oemUrl, hardwareId, provider;
};

struct PrinterDataValue {
  std::string name;  // as written (case kept)
  DWORD type = REG_SZ;
  std::vector<uint8_t> data;
};

struct Printer {
  std::string name, serverName, shareName, portName, driverName, comment, location;
  std::string sepFile, printProcessor = "WinPrint", datatype = "RAW", parameters;
  DWORD attributes = PRINTER_ATTRIBUTE_LOCAL;
  DWORD priority = 1, defaultPriority = 0, startTime = 0, untilTime = 0, status = 0, cJobs = 0,
        averagePPM = 0;
  // Printer data: plain values under key "" and keyed values (e.g. "dsuser"),
  // both maps keyed by lower-case names; the value keeps its name's case.
  std::map<std::string, std::map<std::string, PrinterDataValue>> data;
  bool connection = false;  // a connected (network) printer, listed with PRINTER_ENUM_CONNECTIONS
};

struct Spooler {
  std::vector<Monitor> monitors;
  std::vector<std::string> standardPorts = {"LPT1:", "COM1:", "FILE:"};
  std::vector<Driver> drivers;
  std::vector<Printer> printers;
  std::string defaultPrinter;  // empty: no default printer
  std::string driverRoot = "C:\\Windows\\System32\\spool\\drivers";
  std::string driverDirText;  // when set, the exact text GetPrinterDriverDirectoryW reports
  std::vector<std::string> printProcessors = {"WinPrint"};
  // DeleteMonitorW leaves the monitor's DLL loaded (the file in use) until the
  // spooler stops, as Windows may; otherwise the DLL is unloaded at once.
  bool monitorDllStaysLoaded = false;
};

// The product's tray program as the machine knows it.
struct TrayProgram {
  bool running = false;
  std::string path;                // file it runs from
  std::string behaviour = "exit";  // "exit", "delay", "ignore", "nowindow"
  uint32_t exitDelayMs = 0;        // for "delay": time from request to exit
  int64_t exitAtMs = -1;           // pending exit time after a request
  bool mutexHeld = false;          // holds its named mutex
};

struct HelpWindow {
  std::string className = "HH Parent";
  std::string title = "Morvalente Help";
  bool closesOnRequest = true;
  uint64_t handle = 0;  // its window handle value; 0: given one when the next process begins
};

// One injected fault: calls of `call` numbered nth, nth+1, ... (1-based,
// counted per process) fail with `error`, `times` of them, or all with always.
struct Fault {
  std::string call;
  uint32_t nth = 1;
  uint32_t times = 1;
  bool always = false;
  DWORD error = 0;
  uint32_t used = 0;  // how many calls it has failed so far (per process)
};

struct Machine {
  std::string dir;  // persistence directory; drive C: lives in dir + "/c"

  uint64_t clockMs = 3600000;  // virtual clock (GetTickCount)

  std::map<std::string, RegKey> registry;  // keyed by lower-case full path
  std::vector<FileHold> holds;
  std::vector<Service> services;
  Spooler spooler;
  TrayProgram tray;
  std::vector<HelpWindow> helpWindows;
  std::vector<Fault> faults;

  std::string modulePath = "C:\\Program Files\\Morvalente\\Drivers\\install.exe";
  std::string systemDir = "C:\\Windows\\System32";
  DWORD osMajor = 10, osMinor = 0, osBuild = 19045, osPlatform = VER_PLATFORM_WIN32_NT;
  bool shiftHeld = false;
  bool scmUnopenable = false;     // OpenSCManagerW fails with ERROR_ACCESS_DENIED
  int64_t diskFreeBytes = -1;     // -1: unlimited; otherwise writes stop short there
  std::vector<uint64_t> windows;  // window handle values that IsWindow accepts
};

// ---------------------------------------------------------------------------
// Per-process state: what one run of a program sees (not persisted)
// ---------------------------------------------------------------------------

struct JournalEntry {
  std::string call;
  std::string args;
  std::string result;
};

enum class HandleKind { File, Key, Service, Manager, Printer, Mutex, Process, Thread };

// What one modal dialog of the process showed and how it ended.
struct DialogRecord {
  int templateId = 0;
  uint64_t owner = 0;            // owner window handle value; 0: none
  int64_t initParam = 0;         // the initialisation parameter passed with WM_INITDIALOG
  std::string title;             // the dialog's window text (SetWindowTextW)
  std::string text;              // the text of control 1001 (SetDlgItemTextW)
  std::string button = "Close";  // the text of control 1
  bool shown = false;            // false when it ended during initialisation
  bool ended = false;            // its procedure called EndDialog
  int closeCommand = 0;          // the WM_COMMAND identifier that closed it (IDOK, IDCANCEL)
  int64_t result = 0;            // what DialogBoxParamW returned
};

struct Process {
  std::u16string commandLine = u"install.exe";
  std::vector<JournalEntry> journal;
  std::map<std::string, uint32_t> callCounts;
  std::map<const void *, std::string> blocks;  // live allocations -> allocator
  std::map<const void *, HandleKind> handles;  // live handles -> kind
  uint64_t waitedMs = 0;                       // virtual time spent in Sleep and waits
  // Bytes of the live blocks as requested (GlobalAlloc, LocalAlloc, HeapAlloc,
  // HeapReAlloc and the system's LocalAlloc blocks), and the most they reached.
  std::map<const void *, size_t> blockBytes;
  uint64_t liveBytes = 0;
  uint64_t peakBytes = 0;
  uint64_t nextHandle = 0x1000;

  // Modal dialogs. dialogClose IDOK or IDCANCEL closes every dialog that way
  // (the "Close" button or Enter; Escape or the caption's close box) without
  // showing it; 0 lets the user close it on a terminal (stdin and stderr;
  // not with WINSIM_DIALOG=stderr), and without one writes it to stderr and
  // closes it with IDOK.
  int dialogClose = 0;
  std::function<void(HWND)> onDialogShown;  // called once a dialog is initialised, before it closes
  std::vector<DialogRecord> dialogs;        // every dialog of the process, in order
};

// The machine and the process that the Win32 layer acts on.
Machine &M();
Process &P();

// ---------------------------------------------------------------------------
// Lifecycle and persistence
// ---------------------------------------------------------------------------

// Options for a fresh machine.
struct NewMachineOptions {
  std::string installerDir = "C:\\Program Files\\Morvalente\\Drivers";
  int monitorBuild = 2563;  // product version build of the component files; -1: no version resource
  int driverBuild = 2563;
  int uiBuild = 2563;
  bool componentFiles = true;  // place the component files in the installer's directory
  bool trayFile = true;        // place mrvtray.exe one directory up
  DWORD osMajor = 10, osMinor = 0;
  DWORD osBuild = 0;  // 0: the build of that released version (19045 when unknown)
};

// Where the tray program runs from by default: one directory above the
// installer's directory ("C:\\mrvtray.exe" when that is the drive's root).
std::string DefaultTrayPath(const std::string &installerDir);

// Creates a fresh machine in `dir` (created when missing, emptied when it
// holds a machine): spooler running, standard ports, the product's
// component files. Makes it current and saves it.
void NewMachine(const std::string &dir, const NewMachineOptions &opt = {});
// Loads the machine saved in `dir` and makes it current. Returns false when
// there is none.
bool LoadMachine(const std::string &dir);
// Saves the current machine to its directory.
void SaveMachine();
// Starts a new process on the current machine: clears the journal, the
// call counts, the accounting and the last error, and resets fault usage.
void BeginProcess(const std::u16string &commandLine);

// Carries out the pending file operations and clears the value, as a restart
// does; the spooler starts running and loads its monitors; the tray program
// and help windows are gone.
void Reboot();

// The machine state as JSON text, and back.
std::string ToJson(const Machine &m);
bool FromJson(const std::string &text, Machine &m, std::string *error);
// Applies a JSON change document (see the README) to the current machine.
bool ApplyJson(const std::string &text, std::string *error);

// ---------------------------------------------------------------------------
// Files of drive C:
// ---------------------------------------------------------------------------

// Host path for a Windows path on drive C:, found without regard to case;
// components that do not exist keep the case given. Empty for other drives.
std::string HostPath(const std::string &winPath);
bool FileExists(const std::string &winPath);
bool ReadHostFile(const std::string &winPath, std::string *bytes);
void WriteHostFile(const std::string &winPath, const std::string &bytes);  // creates directories
bool RemoveHostFile(const std::string &winPath);

// The bytes of a product component file (a PE image) whose version resource
// carries product version 1.0.0.build; build -1 gives a file without one.
std::string MakeComponentFile(const std::string &name, int build);

// ---------------------------------------------------------------------------
// Registry helpers
// ---------------------------------------------------------------------------
RegKey *FindKey(const std::string &path);  // "HKLM\\..." or "HKCU\\..."
RegKey &EnsureKey(const std::string &path);
void SetRegString(const std::string &key, const std::string &name, const std::string &utf8);
void SetRegMultiSz(const std::string &key, const std::string &name, const std::vector<std::string> &utf8);
void SetRegRaw(const std::string &key, const std::string &name, DWORD type, const std::vector<uint8_t> &data);
const RegValue *GetRegValue(const std::string &key, const std::string &name);

// ---------------------------------------------------------------------------
// Faults, journal, accounting
// ---------------------------------------------------------------------------

// Adds a fault: the nth call of `call` and the following `times - 1` fail
// with `error` (always: every call from the nth on).
void AddFault(const std::string &call, DWORD error, uint32_t nth = 1, uint32_t times = 1,
              bool always = false);
void ClearFaults();

// Live blocks and handles of the current process, one text per item.
std::vector<std::string> Leaks();
// Journal entries whose call is `call`.
size_t CallCount(const std::string &call);

// ---------------------------------------------------------------------------
// Text helpers
// ---------------------------------------------------------------------------
std::string ToUtf8(const std::u16string &s);
std::string ToUtf8(const WCHAR *s);
std::u16string ToUtf16(const std::string &s);
std::string AnsiToUtf8(const char *s);    // the machine's ANSI code page (1252) to UTF-8
std::string Lower(const std::string &s);  // ASCII lower case
bool IEquals(const std::string &a, const std::string &b);

// ---------------------------------------------------------------------------
// For the Win32 layer: call entry with fault check and journal
// ---------------------------------------------------------------------------
namespace detail {
// Counts the call; returns true (and sets the last error) when a fault hits.
bool Enter(const char *call, const std::string &args);
// Records the result of the last journal entry.
void Result(const std::string &result);
HANDLE NewHandle(HandleKind kind);
bool IsHandle(const void *h, HandleKind kind);
void DropHandle(const void *h);
void TrackBlock(const void *p, const char *allocator);
// A LocalAlloc block made by the system on the program's behalf (not journaled,
// not subject to faults); the program frees it with LocalFree.
void *SystemLocalAlloc(size_t bytes);
bool UntrackBlock(const void *p, const char *allocator);
void Advance(uint64_t ms);  // moves the virtual clock and updates what runs on it
}  // namespace detail

}  // namespace winsim
