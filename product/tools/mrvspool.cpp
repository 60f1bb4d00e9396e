// mrvspool.exe: makes the installer's spooler calls one at a time, with the
// same arguments, so that a test (or a person) can see what the spooler of
// this machine answers to each. Not shipped.
//
//   mrvspool addmonitor [DLL]          AddMonitorW level 2 ("Morvalente:",
//                                      "Windows x64", DLL or "gwrmon64.dll")
//   mrvspool deletemonitor             DeleteMonitorW("Windows x64", "Morvalente:")
//   mrvspool adddriver DIR [HELP [NAME]]
//                                      AddPrinterDriverExW level 6, APD_COPY_ALL_FILES,
//                                      files DIR\gwrdrv64.dll, DIR\gwrui64.dll and
//                                      DIR\HELP (gwrhelp.chm; "-" for no help file),
//                                      driver name NAME or "Morvalente printer"
//   mrvspool deletedriver [FLAGS]      DeletePrinterDriverExW("Windows x64",
//                                      "Morvalente printer", FLAGS or 4, version 0)
//   mrvspool addprinter NAME [PORT [DRIVER [DATATYPE]]]
//                                      AddPrinterW level 2 as the installer fills it
//                                      (no data type unless DATATYPE is given)
//   mrvspool deleteprinter NAME        OpenPrinterW (0x10004), purge (result only
//                                      shown), DeletePrinter
//   mrvspool setport NAME PORT         GetPrinterW level 2, new port, SetPrinterW level 2
//   mrvspool setsubkey NAME VALUE      SetPrinterDataA and SetPrinterDataExA "DsUser"
//   mrvspool getsubkey NAME            GetPrinterDataA, then GetPrinterDataExA "DsUser"
//   mrvspool devmode NAME              DocumentPropertiesW: the printer's default
//                                      DEVMODEW as its driver makes it
//   mrvspool papers NAME               DeviceCapabilitiesW DC_PAPERS and DC_PAPERNAMES
//   mrvspool getdefault                winspool ordinal 203
//   mrvspool setdefault NAME           winspool ordinal 204
//   mrvspool ordinals                  which named exports ordinals 203 and 204 are
//   mrvspool driverdir                 GetPrinterDriverDirectoryW("Windows x64")
//   mrvspool spooler status|stop|start the service "spooler"
//   mrvspool traystart PATH            starts PATH as the installer does: command
//                                      line of the quoted path only
//   mrvspool traystop [PATH]           asks the tray program to exit as the
//                                      installer does (mutex, window, 0x402),
//                                      reports how the wait on the mutex ended,
//                                      then deletes PATH with the installer's 10
//                                      attempts and reports how many it took
//
// Each command prints one line "ok ..." or "fail CALL CODE" (the last error)
// and exits 0 on success, 1 on failure, 2 for a bad command line.
#include <windows.h>
#include <winspool.h>

#include "out.h"

// winspool.drv exports these by ordinal only (203, 204); the import library
// made from src/platform/winspool_ordinals.def binds the names.
extern "C" {
BOOL WINAPI SpoolGetDefaultPrinterW(LPWSTR pszBuffer, LPDWORD pcchBuffer);
BOOL WINAPI SpoolSetDefaultPrinterW(LPCWSTR pszPrinter);
}

namespace {

const WCHAR kEnvironment[] = L"Windows x64";
const WCHAR kMonitorName[] = L"Morvalente:";
const WCHAR kDriverName[] = L"Morvalente printer";
const WCHAR kMaker[] = L"Garrowe Software Kft.";

int Ok(const char *what, const WCHAR *detail = nullptr) {
  out::Text("ok ");
  out::Text(what);
  if (detail) {
    out::Text(" ");
    out::Wide(detail);
  }
  out::End();
  return 0;
}

int Fail(const char *call, DWORD code) {
  out::Text("fail ");
  out::Text(call);
  out::Text(" ");
  out::Number(code);
  out::End();
  return 1;
}

// dir + "\" + name into path (MAX_PATH characters); false when too long.
bool Join(const WCHAR *dir, const WCHAR *name, WCHAR *path) {
  int n = lstrlenW(dir);
  if (n + 1 + lstrlenW(name) + 1 > MAX_PATH) return false;
  lstrcpyW(path, dir);
  if (n > 0 && dir[n - 1] != L'\\') lstrcatW(path, L"\\");
  lstrcatW(path, name);
  return true;
}

int AddMonitorCommand(const WCHAR *dll) {
  MONITOR_INFO_2W info;
  info.pName = (LPWSTR)kMonitorName;
  info.pEnvironment = (LPWSTR)kEnvironment;
  info.pDLLName = (LPWSTR)dll;
  if (!AddMonitorW(nullptr, 2, (LPBYTE)&info)) return Fail("AddMonitorW", GetLastError());
  return Ok("AddMonitorW");
}

int DeleteMonitorCommand() {
  if (!DeleteMonitorW(nullptr, (LPWSTR)kEnvironment, (LPWSTR)kMonitorName))
    return Fail("DeleteMonitorW", GetLastError());
  return Ok("DeleteMonitorW");
}

int AddDriverCommand(const WCHAR *dir, const WCHAR *help, const WCHAR *name) {
  WCHAR driver[MAX_PATH], config[MAX_PATH], helpfile[MAX_PATH];
  if (!Join(dir, L"gwrdrv64.dll", driver) || !Join(dir, L"gwrui64.dll", config) ||
      !Join(dir, help ? help : L"gwrhelp.chm", helpfile))
    return Fail("path", ERROR_FILENAME_EXCED_RANGE);
  if (help && lstrcmpW(help, L"-") == 0) helpfile[0] = 0;
  DRIVER_INFO_6W info;
  ZeroMemory(&info, sizeof(info));
  info.cVersion = 3;
  info.pName = (LPWSTR)name;
  info.pEnvironment = (LPWSTR)kEnvironment;
  info.pDriverPath = driver;
  info.pDataFile = driver;
  info.pConfigFile = config;
  info.pHelpFile = helpfile;
  info.pszMfgName = (LPWSTR)kMaker;
  info.pszOEMUrl = (LPWSTR)L"http://www.garrowe.example/";
  info.pszProvider = (LPWSTR)kMaker;
  if (!AddPrinterDriverExW(nullptr, 6, (LPBYTE)&info, APD_COPY_ALL_FILES))
    return Fail("AddPrinterDriverExW", GetLastError());
  return Ok("AddPrinterDriverExW");
}

int DeleteDriverCommand(DWORD flags) {
  if (!DeletePrinterDriverExW(nullptr, (LPWSTR)kEnvironment, (LPWSTR)kDriverName, flags, 0))
    return Fail("DeletePrinterDriverExW", GetLastError());
  return Ok("DeletePrinterDriverExW");
}

int AddPrinterCommand(const WCHAR *name, const WCHAR *port, const WCHAR *driver, const WCHAR *datatype) {
  PRINTER_INFO_2W info;
  ZeroMemory(&info, sizeof(info));
  info.pPrinterName = (LPWSTR)name;
  info.pPortName = (LPWSTR)port;
  info.pDriverName = (LPWSTR)driver;
  info.pComment = (LPWSTR)L"";
  info.pPrintProcessor = (LPWSTR)L"WinPrint";
  info.pDatatype = (LPWSTR)datatype;
  SetLastError(0);
  HANDLE h = AddPrinterW(nullptr, 2, (LPBYTE)&info);
  if (!h) return Fail("AddPrinterW", GetLastError());
  ClosePrinter(h);
  return Ok("AddPrinterW", name);
}

int DeletePrinterCommand(const WCHAR *name) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DELETE | PRINTER_ACCESS_ADMINISTER};
  HANDLE h = nullptr;
  if (!OpenPrinterW((LPWSTR)name, &h, &defaults)) return Fail("OpenPrinterW", GetLastError());
  // The purge's result does not decide anything, as in the installer; it is
  // shown for the record.
  if (!SetPrinterW(h, 0, nullptr, PRINTER_CONTROL_PURGE)) {
    out::Text("note purge failed ");
    out::Number(GetLastError());
    out::End();
  }
  if (!DeletePrinter(h)) {
    DWORD err = GetLastError();
    ClosePrinter(h);
    return Fail("DeletePrinter", err);
  }
  ClosePrinter(h);
  return Ok("DeletePrinter", name);
}

int SetPortCommand(const WCHAR *name, const WCHAR *port) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  HANDLE h = nullptr;
  if (!OpenPrinterW((LPWSTR)name, &h, &defaults)) return Fail("OpenPrinterW", GetLastError());
  DWORD needed = 0;
  GetPrinterW(h, 2, nullptr, 0, &needed);
  LPBYTE buf = needed ? (LPBYTE)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed) : nullptr;
  int rc;
  if (!buf || !GetPrinterW(h, 2, buf, needed, &needed)) {
    rc = Fail("GetPrinterW", GetLastError());
  } else {
    ((PRINTER_INFO_2W *)buf)->pPortName = (LPWSTR)port;
    rc = SetPrinterW(h, 2, buf, 0) ? Ok("SetPrinterW", port) : Fail("SetPrinterW", GetLastError());
  }
  if (buf) HeapFree(GetProcessHeap(), 0, buf);
  ClosePrinter(h);
  return rc;
}

int SetSubKeyCommand(const WCHAR *name, const WCHAR *value) {
  char ansi[260];
  if (!WideCharToMultiByte(CP_ACP, 0, value, -1, ansi, sizeof(ansi), nullptr, nullptr))
    return Fail("WideCharToMultiByte", GetLastError());
  HANDLE h = nullptr;
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  if (!OpenPrinterW((LPWSTR)name, &h, &defaults)) return Fail("OpenPrinterW", GetLastError());
  DWORD size = (DWORD)lstrlenA(ansi) + 1;
  DWORD rc1 = SetPrinterDataA(h, (LPSTR) "SubKey", REG_SZ, (LPBYTE)ansi, size);
  DWORD rc2 = SetPrinterDataExA(h, "DsUser", "SubKey", REG_SZ, (LPBYTE)ansi, size);
  ClosePrinter(h);
  if (rc1 != ERROR_SUCCESS) return Fail("SetPrinterDataA", rc1);
  if (rc2 != ERROR_SUCCESS) return Fail("SetPrinterDataExA", rc2);
  return Ok("SetPrinterData", value);
}

int GetSubKeyCommand(const WCHAR *name) {
  HANDLE h = nullptr;
  if (!OpenPrinterW((LPWSTR)name, &h, nullptr)) return Fail("OpenPrinterW", GetLastError());
  char buf[260] = {0};
  DWORD type = 0, needed = 0;
  DWORD rc = GetPrinterDataA(h, (LPSTR) "SubKey", &type, (LPBYTE)buf, 64, &needed);
  const char *where = "plain";
  if (rc != ERROR_SUCCESS || type != REG_SZ) {
    ZeroMemory(buf, sizeof(buf));
    type = 0;
    rc = GetPrinterDataExA(h, "DsUser", "SubKey", &type, (LPBYTE)buf, 64, &needed);
    where = "DsUser";
  }
  ClosePrinter(h);
  if (rc != ERROR_SUCCESS) return Fail("GetPrinterDataExA", rc);
  if (type != REG_SZ) return Fail("GetPrinterDataExA(type)", type);
  out::Text("ok SubKey ");
  out::Text(where);
  out::Text(" ");
  out::Ansi(buf);
  out::End();
  return 0;
}

int DevModeCommand(const WCHAR *name) {
  HANDLE h = nullptr;
  if (!OpenPrinterW((LPWSTR)name, &h, nullptr)) return Fail("OpenPrinterW", GetLastError());
  LONG size = DocumentPropertiesW(nullptr, h, (LPWSTR)name, nullptr, nullptr, 0);
  if (size <= 0) {
    DWORD err = GetLastError();
    ClosePrinter(h);
    return Fail("DocumentPropertiesW(size)", err);
  }
  DEVMODEW *dm = (DEVMODEW *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  // Windows tells the driver the output buffer's size; Wine 8 tells it the
  // output record's own dmSize + dmDriverExtra, so the record announces the
  // buffer's size here.
  if (dm) dm->dmSize = (WORD)size;
  LONG rc = dm ? DocumentPropertiesW(nullptr, h, (LPWSTR)name, dm, nullptr, DM_OUT_BUFFER) : -1;
  DWORD err = GetLastError();
  ClosePrinter(h);
  if (rc != IDOK) {
    if (dm) HeapFree(GetProcessHeap(), 0, dm);
    return Fail("DocumentPropertiesW", err);
  }
  out::Text("ok devmode size=");
  out::Number((DWORD)size);
  out::Text(" dmSize=");
  out::Number(dm->dmSize);
  out::Text(" extra=");
  out::Number(dm->dmDriverExtra);
  out::Text(" fields=");
  out::Hex(dm->dmFields);
  out::Text(" orientation=");
  out::Signed(dm->dmOrientation);
  out::Text(" paper=");
  out::Signed(dm->dmPaperSize);
  out::Text(" copies=");
  out::Signed(dm->dmCopies);
  out::Text(" quality=");
  out::Signed(dm->dmPrintQuality);
  out::Text(" color=");
  out::Signed(dm->dmColor);
  out::Text(" device=");
  out::Wide(dm->dmDeviceName);
  out::End();
  HeapFree(GetProcessHeap(), 0, dm);
  return 0;
}

int PapersCommand(const WCHAR *name) {
  WORD papers[16];
  WCHAR names[16][64];
  int count = DeviceCapabilitiesW(name, L"Morvalente:", DC_PAPERS, nullptr, nullptr);
  if (count <= 0 || count > 16) return Fail("DeviceCapabilitiesW(DC_PAPERS)", GetLastError());
  if (DeviceCapabilitiesW(name, L"Morvalente:", DC_PAPERS, (LPWSTR)papers, nullptr) != count ||
      DeviceCapabilitiesW(name, L"Morvalente:", DC_PAPERNAMES, (LPWSTR)names, nullptr) != count)
    return Fail("DeviceCapabilitiesW", GetLastError());
  out::Text("ok papers");
  for (int i = 0; i < count; ++i) {
    out::Text(" ");
    out::Number(papers[i]);
    out::Text("=");
    out::Wide(names[i]);
  }
  out::End();
  return 0;
}

int GetDefaultCommand() {
  WCHAR name[260] = {0};
  DWORD size = 260;
  if (!SpoolGetDefaultPrinterW(name, &size)) return Fail("ordinal 203", GetLastError());
  return Ok("ordinal 203", name);
}

int SetDefaultCommand(const WCHAR *name) {
  if (!SpoolSetDefaultPrinterW(name)) return Fail("ordinal 204", GetLastError());
  return Ok("ordinal 204", name);
}

// Names the documented exports that ordinals 203 and 204 resolve to.
int OrdinalsCommand() {
  HMODULE spool = GetModuleHandleW(L"winspool.drv");
  if (!spool) return Fail("GetModuleHandleW", GetLastError());
  struct {
    WORD ordinal;
    const char *names[4];
  } rows[] = {
      {203, {"GetDefaultPrinterW", "GetDefaultPrinterA", "SetDefaultPrinterW", "SetDefaultPrinterA"}},
      {204, {"SetDefaultPrinterW", "SetDefaultPrinterA", "GetDefaultPrinterW", "GetDefaultPrinterA"}}};
  int rc = 0;
  for (auto &row : rows) {
    FARPROC by_number = GetProcAddress(spool, (LPCSTR)(ULONG_PTR)row.ordinal);
    out::Text("ordinal ");
    out::Number(row.ordinal);
    out::Text(" = ");
    const char *match = nullptr;
    for (const char *n : row.names)
      if (by_number && GetProcAddress(spool, n) == by_number) {
        match = n;
        break;
      }
    out::Text(by_number ? (match ? match : "(no documented name)") : "(not exported)");
    out::End();
    if (!match) rc = 1;
  }
  return rc;
}

int DriverDirCommand() {
  WCHAR dir[MAX_PATH + 1];
  DWORD needed = 0;
  if (!GetPrinterDriverDirectoryW(nullptr, (LPWSTR)kEnvironment, 1, (LPBYTE)dir, sizeof(dir), &needed))
    return Fail("GetPrinterDriverDirectoryW", GetLastError());
  return Ok("GetPrinterDriverDirectoryW", dir);
}

int SpoolerCommand(const WCHAR *action) {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) return Fail("OpenSCManagerW", GetLastError());
  SC_HANDLE svc = OpenServiceW(scm, L"spooler", SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP);
  if (!svc) {
    DWORD err = GetLastError();
    CloseServiceHandle(scm);
    return Fail("OpenServiceW", err);
  }
  SERVICE_STATUS status;
  int rc = 0;
  if (lstrcmpW(action, L"stop") == 0) {
    if (!ControlService(svc, SERVICE_CONTROL_STOP, &status)) rc = Fail("ControlService", GetLastError());
  } else if (lstrcmpW(action, L"start") == 0) {
    if (!StartServiceW(svc, 0, nullptr)) rc = Fail("StartServiceW", GetLastError());
  }
  if (rc == 0) {
    // Up to 10 s for a pending state to settle.
    for (int i = 0; i < 50; ++i) {
      if (!QueryServiceStatus(svc, &status)) {
        rc = Fail("QueryServiceStatus", GetLastError());
        break;
      }
      if (status.dwCurrentState != SERVICE_START_PENDING && status.dwCurrentState != SERVICE_STOP_PENDING)
        break;
      Sleep(200);
    }
    if (rc == 0) {
      out::Text("ok spooler state ");
      out::Number(status.dwCurrentState);
      out::End();
    }
  }
  CloseServiceHandle(svc);
  CloseServiceHandle(scm);
  return rc;
}

int TrayStartCommand(const WCHAR *path) {
  WCHAR line[MAX_PATH + 3];
  if (lstrlenW(path) > MAX_PATH - 1) return Fail("path", ERROR_FILENAME_EXCED_RANGE);
  lstrcpyW(line, L"\"");
  lstrcatW(line, path);
  lstrcatW(line, L"\"");
  STARTUPINFOW si;
  ZeroMemory(&si, sizeof(si));
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION pi;
  if (!CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr, &si,
                      &pi))
    return Fail("CreateProcessW", GetLastError());
  // Give it the time to take its mutex and make its window, so that a probe
  // right after sees it running.
  WaitForInputIdle(pi.hProcess, 5000);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  return Ok("CreateProcessW", line);
}

int TrayStopCommand(const WCHAR *path) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}");
  if (!mutex) return Fail("CreateMutexA", GetLastError());
  int rc = 0;
  if (GetLastError() != ERROR_ALREADY_EXISTS) {
    out::Text("note tray not running\n");
  } else {
    bool found = false;
    for (int pass = 0; pass < 20 && !found; ++pass) {
      HWND w = FindWindowW(L"vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C}", nullptr);
      if (!w) {
        Sleep(250);
        continue;
      }
      found = true;
      PostMessageW(w, 0x402, 0, 0);
      DWORD wait = WaitForSingleObject(mutex, 5000);
      if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) ReleaseMutex(mutex);
      if (wait != WAIT_OBJECT_0)
        rc = Fail("WaitForSingleObject", wait);
      else
        out::Text("note tray released its mutex\n");
    }
    if (!found) rc = Fail("FindWindowW", ERROR_NOT_FOUND);
  }
  CloseHandle(mutex);
  if (rc == 0 && path) {
    DWORD err = 0;
    int attempt = 1;
    for (; attempt <= 10; ++attempt) {
      if (DeleteFileW(path)) break;
      err = GetLastError();
      if (err == ERROR_FILE_NOT_FOUND) break;
      Sleep(err == ERROR_ACCESS_DENIED ? 100 : 10);
    }
    if (attempt > 10) return Fail("DeleteFileW", err);
    out::Text("note deletion attempts ");
    out::Number(attempt);
    out::End();
  }
  return rc ? rc : Ok("traystop");
}

int Usage() {
  out::Text("usage: mrvspool COMMAND [ARGS] (see the source for the list)\n");
  return 2;
}

}  // namespace

int wmain(int argc, WCHAR **argv) {
  if (argc < 2) return Usage();
  const WCHAR *cmd = argv[1];
  const WCHAR *a2 = argc > 2 ? argv[2] : nullptr;
  const WCHAR *a3 = argc > 3 ? argv[3] : nullptr;
  const WCHAR *a4 = argc > 4 ? argv[4] : nullptr;
  const WCHAR *a5 = argc > 5 ? argv[5] : nullptr;
  if (!lstrcmpW(cmd, L"addmonitor")) return AddMonitorCommand(a2 ? a2 : L"gwrmon64.dll");
  if (!lstrcmpW(cmd, L"deletemonitor")) return DeleteMonitorCommand();
  if (!lstrcmpW(cmd, L"adddriver") && a2) return AddDriverCommand(a2, a3, a4 ? a4 : kDriverName);
  if (!lstrcmpW(cmd, L"deletedriver")) {
    DWORD flags = 4;
    if (a2) {
      flags = 0;
      for (const WCHAR *p = a2; *p >= L'0' && *p <= L'9'; ++p) flags = flags * 10 + (DWORD)(*p - L'0');
    }
    return DeleteDriverCommand(flags);
  }
  if (!lstrcmpW(cmd, L"addprinter") && a2)
    return AddPrinterCommand(a2, a3 ? a3 : kMonitorName, a4 ? a4 : kDriverName, a5);
  if (!lstrcmpW(cmd, L"deleteprinter") && a2) return DeletePrinterCommand(a2);
  if (!lstrcmpW(cmd, L"setport") && a3) return SetPortCommand(a2, a3);
  if (!lstrcmpW(cmd, L"setsubkey") && a3) return SetSubKeyCommand(a2, a3);
  if (!lstrcmpW(cmd, L"getsubkey") && a2) return GetSubKeyCommand(a2);
  if (!lstrcmpW(cmd, L"devmode") && a2) return DevModeCommand(a2);
  if (!lstrcmpW(cmd, L"papers") && a2) return PapersCommand(a2);
  if (!lstrcmpW(cmd, L"getdefault")) return GetDefaultCommand();
  if (!lstrcmpW(cmd, L"setdefault") && a2) return SetDefaultCommand(a2);
  if (!lstrcmpW(cmd, L"ordinals")) return OrdinalsCommand();
  if (!lstrcmpW(cmd, L"driverdir")) return DriverDirCommand();
  if (!lstrcmpW(cmd, L"spooler") && a2) return SpoolerCommand(a2);
  if (!lstrcmpW(cmd, L"traystart") && a2) return TrayStartCommand(a2);
  if (!lstrcmpW(cmd, L"traystop")) return TrayStopCommand(a2);
  return Usage();
}
