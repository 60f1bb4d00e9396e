// mrvbase.exe: the calls an install or an uninstall of the product needs,
// back to back, with no waits and no logging: the yardstick for install.exe's
// wall time under Wine. Not shipped; used by scripts/bench.sh.
//
//   mrvbase in|un
//
// Lies beside install.exe and takes the product's files from its own
// directory, as install.exe does. Both commands: the spooler service's state
// (started when it does not run), the driver directory, the printers and the
// default printer, the tray program stopped (asked once, waited for) and
// its Run value removed, the monitors and drivers listed, the product's
// printers' settings names read and the printers deleted, the product's
// driver and monitor deleted (the monitor kept by "in" when its file is of a
// compatible build), the monitor file deleted, the pending file operations
// read. "in" then copies and registers the monitor and the driver, deletes
// its copies of the driver files, adds the printers again (or "Morvalente")
// with their settings names, and registers and starts the tray program.
// Every list is read with one call into a large buffer; nothing is retried.
// Prints "calls N failed M" and each failed call with its last error (the
// calls that fail are those Wine refuses as it refuses install.exe's, and
// those that find nothing to do, such as deleting what is not there).
#include <windows.h>
#include <winspool.h>

#include <cstdio>

namespace {

const WCHAR kEnvironment[] = L"Windows x64";
const WCHAR kMonitorName[] = L"Morvalente:";
const WCHAR kDriverName[] = L"Morvalente printer";
const WCHAR kMaker[] = L"Garrowe Software Kft.";
const char kTrayMutex[] = "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}";
const WCHAR kTrayClass[] = L"vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C}";
const char kRunKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const DWORD kListBytes = 1 << 20;

int g_calls = 0;
int g_failed = 0;
char g_failedNames[1024];

// Counts a call and whether it succeeded; keeps the names of those that
// failed, with their last error.
bool CountedCall(bool ok, const char *what) {
  ++g_calls;
  if (ok) return true;
  ++g_failed;
  char one[96];
  int n = 0;
  while (what[n] != 0 && what[n] != '(' && n < 60) ++n;
  std::snprintf(one, sizeof one, " %.*s:%lu", n, what, GetLastError());
  if (lstrlenA(g_failedNames) + lstrlenA(one) < (int)sizeof g_failedNames) lstrcatA(g_failedNames, one);
  return false;
}
#define Counted(call) CountedCall((call), #call)

BYTE g_printers[kListBytes], g_monitors[kListBytes], g_drivers[kListBytes];

struct Saved {
  WCHAR name[256];
  char settings[64];
};
Saved g_saved[64];
int g_savedCount = 0;

// Ends the path at its last backslash, keeping the backslash or not.
void CutAfterLastBackslash(WCHAR *path, bool keep) {
  int cut = -1;
  for (int i = 0; path[i] != 0; ++i)
    if (path[i] == L'\\') cut = i;
  if (cut >= 0) path[keep ? cut + 1 : cut] = 0;
}

void Join(WCHAR *out, const WCHAR *dir, const WCHAR *name) {
  lstrcpyW(out, dir);
  int n = lstrlenW(out);
  if (n > 0 && out[n - 1] != L'\\') lstrcatW(out, L"\\");
  lstrcatW(out, name);
}

bool CopyOne(const WCHAR *from, const WCHAR *to) {
  HANDLE in = CreateFileW(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (!Counted(in != INVALID_HANDLE_VALUE)) return false;
  HANDLE out = CreateFileW(to, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (!Counted(out != INVALID_HANDLE_VALUE)) {
    CloseHandle(in);
    return false;
  }
  static BYTE buffer[8192];
  DWORD got = 0, put = 0;
  while (Counted(ReadFile(in, buffer, sizeof buffer, &got, nullptr)) && got > 0) {
    Counted(WriteFile(out, buffer, got, &put, nullptr));
    if (got != sizeof buffer) break;
  }
  CloseHandle(out);
  CloseHandle(in);
  return true;
}

int BuildOf(const WCHAR *path) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (!Counted(size != 0)) return -1;
  BYTE *block = (BYTE *)GlobalAlloc(GPTR, size);
  int build = -1;
  VS_FIXEDFILEINFO *info = nullptr;
  UINT length = 0;
  if (Counted(GetFileVersionInfoW(path, 0, size, block)) &&
      Counted(VerQueryValueW(block, L"\\", (void **)&info, &length)))
    build = (int)(info->dwProductVersionLS & 0xFFFF);
  GlobalFree(block);
  return build;
}

void SpoolerRunning() {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, STANDARD_RIGHTS_REQUIRED | SC_MANAGER_CONNECT);
  if (!Counted(manager != nullptr)) return;
  SC_HANDLE service = OpenServiceW(manager, L"spooler", SERVICE_QUERY_STATUS | SERVICE_START);
  if (Counted(service != nullptr)) {
    SERVICE_STATUS status = {};
    if (Counted(QueryServiceStatus(service, &status)) && status.dwCurrentState != SERVICE_RUNNING)
      Counted(StartServiceW(service, 0, nullptr));
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

void StopTray(const WCHAR *keep) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, kTrayMutex);
  if (Counted(mutex != nullptr)) {
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
      HWND window = FindWindowW(kTrayClass, nullptr);
      if (Counted(window != nullptr)) {
        Counted(PostMessageW(window, WM_USER + 2, 0, 0));
        Counted(WaitForSingleObject(mutex, 5000) == WAIT_OBJECT_0);
      }
    }
    CloseHandle(mutex);
  }
  HKEY run = nullptr;
  if (!Counted(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &run) == ERROR_SUCCESS)) return;
  WCHAR path[264] = {};
  DWORD size = sizeof path - sizeof(WCHAR);
  if (Counted(RegQueryValueExW(run, L"MorvalenteTray", nullptr, nullptr, (BYTE *)path, &size) ==
              ERROR_SUCCESS) &&
      path[0] != 0 && (keep == nullptr || lstrcmpiW(path, keep) != 0))
    Counted(DeleteFileW(path));
  Counted(RegDeleteValueA(run, "MorvalenteTray") == ERROR_SUCCESS);
  RegCloseKey(run);
}

void StartTray(const WCHAR *path) {
  HKEY run = nullptr;
  if (Counted(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_ALL_ACCESS, &run) == ERROR_SUCCESS)) {
    Counted(RegSetValueExW(run, L"MorvalenteTray", 0, REG_SZ, (const BYTE *)path,
                           (DWORD)(lstrlenW(path) + 1) * sizeof(WCHAR)) == ERROR_SUCCESS);
    RegCloseKey(run);
  }
  WCHAR command[300];
  lstrcpyW(command, L"\"");
  lstrcatW(command, path);
  lstrcatW(command, L"\"");
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi = {};
  if (Counted(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                             nullptr, &si, &pi))) {
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
}

void ReadPending() {
  HKEY key = nullptr;
  if (!Counted(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                             KEY_READ, &key) == ERROR_SUCCESS))
    return;
  DWORD size = 0;
  Counted(RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
          ERROR_SUCCESS);
  RegCloseKey(key);
}

// Deletes the product's printers, remembering their settings names.
void DeletePrinters(PRINTER_INFO_2W *printers, DWORD count) {
  for (DWORD i = 0; i < count; ++i) {
    PRINTER_INFO_2W *p = &printers[i];
    if (p->pDriverName == nullptr || lstrcmpW(p->pDriverName, kDriverName) != 0) continue;
    HANDLE h = nullptr;
    if (Counted(OpenPrinterW(p->pPrinterName, &h, nullptr))) {
      char settings[64] = {};
      DWORD type = 0, needed = 0;
      if (Counted(GetPrinterDataA(h, (LPSTR) "SubKey", &type, (BYTE *)settings, 63, &needed) ==
                  ERROR_SUCCESS) &&
          settings[0] != 0 && g_savedCount < 64) {
        lstrcpynW(g_saved[g_savedCount].name, p->pPrinterName, 256);
        lstrcpynA(g_saved[g_savedCount].settings, settings, 64);
        ++g_savedCount;
      }
      ClosePrinter(h);
    }
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
    if (Counted(OpenPrinterW(p->pPrinterName, &h, &defaults))) {
      Counted(SetPrinterW(h, 0, nullptr, PRINTER_CONTROL_PURGE));
      Counted(DeletePrinter(h));
      ClosePrinter(h);
    }
  }
}

bool Listed(const BYTE *records, DWORD count, size_t recordSize, size_t nameOffset, const WCHAR *name) {
  for (DWORD i = 0; i < count; ++i) {
    const WCHAR *n = *(const WCHAR *const *)(records + i * recordSize + nameOffset);
    if (n != nullptr && lstrcmpW(n, name) == 0) return true;
  }
  return false;
}

void AddOnePrinter(const WCHAR *name, const char *settings) {
  PRINTER_INFO_2W info = {};
  info.pPrinterName = (LPWSTR)name;
  info.pPortName = (LPWSTR)kMonitorName;
  info.pDriverName = (LPWSTR)kDriverName;
  info.pComment = (LPWSTR)L"";
  info.pPrintProcessor = (LPWSTR)L"WinPrint";
  HANDLE h = AddPrinterW(nullptr, 2, (BYTE *)&info);
  if (!Counted(h != nullptr)) return;
  if (settings != nullptr) {
    DWORD size = (DWORD)lstrlenA(settings) + 1;
    Counted(SetPrinterDataA(h, (LPSTR) "SubKey", REG_SZ, (BYTE *)settings, size) == ERROR_SUCCESS);
    Counted(SetPrinterDataExA(h, "DsUser", "SubKey", REG_SZ, (BYTE *)settings, size) == ERROR_SUCCESS);
  }
  ClosePrinter(h);
}

}  // namespace

int wmain(int argc, WCHAR **argv) {
  bool install = argc == 2 && lstrcmpW(argv[1], L"in") == 0;
  if (!install && !(argc == 2 && lstrcmpW(argv[1], L"un") == 0)) {
    std::fprintf(stderr, "usage: mrvbase in|un\n");
    return 2;
  }
  WCHAR moduleDir[MAX_PATH], systemDir[MAX_PATH], driverDir[MAX_PATH], tray[MAX_PATH], path[MAX_PATH];
  GetModuleFileNameW(nullptr, moduleDir, MAX_PATH);
  CutAfterLastBackslash(moduleDir, false);
  lstrcpyW(tray, moduleDir);
  CutAfterLastBackslash(tray, true);
  lstrcatW(tray, L"mrvtray.exe");
  GetSystemDirectoryW(systemDir, MAX_PATH);
  DWORD needed = 0;

  SpoolerRunning();
  Counted(GetPrinterDriverDirectoryW(nullptr, (LPWSTR)kEnvironment, 1, (BYTE *)driverDir, sizeof driverDir,
                                     &needed));
  DWORD printerCount = 0;
  Counted(EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, g_printers, kListBytes,
                        &needed, &printerCount));
  WCHAR defaultPrinter[256];
  DWORD chars = 256;
  Counted(GetDefaultPrinterW(defaultPrinter, &chars));

  StopTray(install ? tray : nullptr);
  DWORD monitorCount = 0, driverCount = 0;
  Counted(EnumMonitorsW(nullptr, 2, g_monitors, kListBytes, &needed, &monitorCount));
  Counted(
      EnumPrinterDriversW(nullptr, (LPWSTR)kEnvironment, 6, g_drivers, kListBytes, &needed, &driverCount));
  DeletePrinters((PRINTER_INFO_2W *)g_printers, printerCount);
  if (Listed(g_drivers, driverCount, sizeof(DRIVER_INFO_6W), offsetof(DRIVER_INFO_6W, pName), kDriverName))
    Counted(
        DeletePrinterDriverExW(nullptr, (LPWSTR)kEnvironment, (LPWSTR)kDriverName, DPD_DELETE_ALL_FILES, 0));

  WCHAR monitorFile[MAX_PATH];
  Join(monitorFile, systemDir, L"gwrmon64.dll");
  bool monitorFound = Listed(g_monitors, monitorCount, sizeof(MONITOR_INFO_2W),
                             offsetof(MONITOR_INFO_2W, pName), kMonitorName);
  bool keepMonitor = false;
  if (install) {
    int build = BuildOf(monitorFile);
    keepMonitor = build >= 2451 && build <= 2563;
  }
  if (!keepMonitor && Counted(DeleteMonitorW(nullptr, (LPWSTR)kEnvironment, (LPWSTR)kMonitorName)) &&
      monitorFound)
    Counted(DeleteFileW(monitorFile));
  ReadPending();

  if (install) {
    if (!keepMonitor || !monitorFound) {
      if (!keepMonitor) {
        Join(path, moduleDir, L"gwrmon64.dll");
        CopyOne(path, monitorFile);
      }
      MONITOR_INFO_2W monitor = {(LPWSTR)kMonitorName, (LPWSTR)kEnvironment, (LPWSTR)L"gwrmon64.dll"};
      Counted(AddMonitorW(nullptr, 2, (BYTE *)&monitor));
    }
    static const WCHAR *files[] = {L"gwrdrv64.dll", L"gwrui64.dll", L"gwrhelp.chm"};
    WCHAR placed[3][MAX_PATH];
    for (int i = 0; i < 3; ++i) {
      Join(path, moduleDir, files[i]);
      Join(placed[i], driverDir, files[i]);
      CopyOne(path, placed[i]);
    }
    DRIVER_INFO_6W driver = {};
    driver.cVersion = 3;
    driver.pName = (LPWSTR)kDriverName;
    driver.pEnvironment = (LPWSTR)kEnvironment;
    driver.pDriverPath = placed[0];
    driver.pDataFile = placed[0];
    driver.pConfigFile = placed[1];
    driver.pHelpFile = placed[2];
    driver.pszMfgName = (LPWSTR)kMaker;
    driver.pszProvider = (LPWSTR)kMaker;
    Counted(AddPrinterDriverExW(nullptr, 6, (BYTE *)&driver, APD_COPY_ALL_FILES));
    for (int i = 0; i < 3; ++i) Counted(DeleteFileW(placed[i]));
    for (int i = 0; i < g_savedCount; ++i) AddOnePrinter(g_saved[i].name, g_saved[i].settings);
    if (g_savedCount == 0) AddOnePrinter(L"Morvalente", nullptr);
    StartTray(tray);
  }
  std::printf("calls %d failed %d%s\n", g_calls, g_failed, g_failedNames);
  return 0;
}
