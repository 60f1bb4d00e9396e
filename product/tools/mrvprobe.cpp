// mrvprobe.exe: prints the machine's printing state for the end-to-end tests.
//
//   mrvprobe            every record below
//   mrvprobe build PATH the build number of a file (fourth number of its
//                       product version), or -1 without a version resource
//
// Records, one per line, tab-separated (see out.h):
//   monitor   NAME ENVIRONMENT DLL                 (EnumMonitorsW level 2)
//   port      NAME MONITOR DESCRIPTION             (EnumPortsW level 2)
//   driver    NAME VERSION DRIVER DATA CONFIG HELP MFG PROVIDER
//                                                  ("Windows x64", level 6)
//   driverdir PATH                                 ("Windows x64")
//   printer   NAME PORT DRIVER COMMENT LOCATION ATTRIBUTES PROCESSOR
//   subkey    PRINTER PLAIN DSUSER                 (printer data "SubKey";
//                                                   "!code" when not read)
//   default   NAME                                 (empty: no default printer)
//   run       VALUE                                ("!code" when absent)
//   traymutex present|absent
//   traywindow present|absent
//   pending   INDEX TEXT                           (PendingFileRenameOperations)
//   spooler   STATE                                (service state number)
//   error     CALL CODE                            (a query that failed)
// Exit code 0, or 2 for a bad command line.
#include <windows.h>
#include <winspool.h>

#include "out.h"

namespace {

const WCHAR kEnvironment[] = L"Windows x64";
const char kMutexName[] = "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}";
const WCHAR kTrayClass[] = L"vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C}";

void Error(const char *call, DWORD code) {
  out::Text("error\t");
  out::Text(call);
  out::Tab();
  out::Number(code);
  out::End();
}

// Runs the two-call size protocol of an enumeration; returns a block from
// HeapAlloc (caller frees) or null, with *count set.
typedef BOOL(WINAPI *EnumCall)(LPBYTE buf, DWORD size, LPDWORD needed, LPDWORD returned, void *ctx);

LPBYTE Enumerate(const char *name, EnumCall call, void *ctx, DWORD *count) {
  *count = 0;
  DWORD needed = 0, returned = 0;
  if (call(nullptr, 0, &needed, &returned, ctx)) return nullptr;  // nothing to list
  DWORD err = GetLastError();
  if (err != ERROR_INSUFFICIENT_BUFFER) {
    Error(name, err);
    return nullptr;
  }
  LPBYTE buf = (LPBYTE)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed);
  if (!buf) return nullptr;
  if (!call(buf, needed, &needed, &returned, ctx)) {
    Error(name, GetLastError());
    HeapFree(GetProcessHeap(), 0, buf);
    return nullptr;
  }
  *count = returned;
  return buf;
}

BOOL WINAPI CallEnumMonitors(LPBYTE b, DWORD s, LPDWORD n, LPDWORD r, void *) {
  return EnumMonitorsW(nullptr, 2, b, s, n, r);
}
BOOL WINAPI CallEnumPorts(LPBYTE b, DWORD s, LPDWORD n, LPDWORD r, void *) {
  return EnumPortsW(nullptr, 2, b, s, n, r);
}
BOOL WINAPI CallEnumDrivers(LPBYTE b, DWORD s, LPDWORD n, LPDWORD r, void *) {
  return EnumPrinterDriversW(nullptr, (LPWSTR)kEnvironment, 6, b, s, n, r);
}
BOOL WINAPI CallEnumPrinters(LPBYTE b, DWORD s, LPDWORD n, LPDWORD r, void *) {
  return EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, b, s, n, r);
}

void Monitors() {
  DWORD count;
  LPBYTE buf = Enumerate("EnumMonitorsW", CallEnumMonitors, nullptr, &count);
  MONITOR_INFO_2W *m = (MONITOR_INFO_2W *)buf;
  for (DWORD i = 0; i < count; ++i) {
    out::Text("monitor\t");
    out::Wide(m[i].pName);
    out::Tab();
    out::Wide(m[i].pEnvironment);
    out::Tab();
    out::Wide(m[i].pDLLName);
    out::End();
  }
  if (buf) HeapFree(GetProcessHeap(), 0, buf);
}

void Ports() {
  DWORD count;
  LPBYTE buf = Enumerate("EnumPortsW", CallEnumPorts, nullptr, &count);
  PORT_INFO_2W *p = (PORT_INFO_2W *)buf;
  for (DWORD i = 0; i < count; ++i) {
    out::Text("port\t");
    out::Wide(p[i].pPortName);
    out::Tab();
    out::Wide(p[i].pMonitorName);
    out::Tab();
    out::Wide(p[i].pDescription);
    out::End();
  }
  if (buf) HeapFree(GetProcessHeap(), 0, buf);
}

void Drivers() {
  DWORD count;
  LPBYTE buf = Enumerate("EnumPrinterDriversW", CallEnumDrivers, nullptr, &count);
  DRIVER_INFO_6W *d = (DRIVER_INFO_6W *)buf;
  for (DWORD i = 0; i < count; ++i) {
    out::Text("driver\t");
    out::Wide(d[i].pName);
    out::Tab();
    out::Number(d[i].cVersion);
    const WCHAR *fields[] = {d[i].pDriverPath, d[i].pDataFile,  d[i].pConfigFile,
                             d[i].pHelpFile,   d[i].pszMfgName, d[i].pszProvider};
    for (const WCHAR *f : fields) {
      out::Tab();
      out::Wide(f);
    }
    out::End();
  }
  if (buf) HeapFree(GetProcessHeap(), 0, buf);

  WCHAR dir[MAX_PATH + 1];
  DWORD needed = 0;
  if (GetPrinterDriverDirectoryW(nullptr, (LPWSTR)kEnvironment, 1, (LPBYTE)dir, sizeof(dir), &needed)) {
    out::Text("driverdir\t");
    out::Wide(dir);
    out::End();
  } else {
    Error("GetPrinterDriverDirectoryW", GetLastError());
  }
}

// Prints "!code" for a failed read, the text for a REG_SZ, "!type=N" else.
void SubKeyField(DWORD rc, DWORD type, const char *value) {
  if (rc != ERROR_SUCCESS) {
    out::Text("!");
    out::Number(rc);
  } else if (type != REG_SZ) {
    out::Text("!type=");
    out::Number(type);
  } else {
    out::Ansi(value);
  }
}

void SubKeys(const WCHAR *printer) {
  HANDLE h = nullptr;
  if (!OpenPrinterW((LPWSTR)printer, &h, nullptr)) {
    Error("OpenPrinterW", GetLastError());
    return;
  }
  char plain[260] = {0}, ds[260] = {0};
  DWORD type1 = 0, type2 = 0, needed = 0;
  DWORD rc1 = GetPrinterDataA(h, (LPSTR) "SubKey", &type1, (LPBYTE)plain, 64, &needed);
  DWORD rc2 = GetPrinterDataExA(h, "DsUser", "SubKey", &type2, (LPBYTE)ds, 64, &needed);
  ClosePrinter(h);
  out::Text("subkey\t");
  out::Wide(printer);
  out::Tab();
  SubKeyField(rc1, type1, plain);
  out::Tab();
  SubKeyField(rc2, type2, ds);
  out::End();
}

void Printers() {
  DWORD count;
  LPBYTE buf = Enumerate("EnumPrintersW", CallEnumPrinters, nullptr, &count);
  PRINTER_INFO_2W *p = (PRINTER_INFO_2W *)buf;
  for (DWORD i = 0; i < count; ++i) {
    out::Text("printer\t");
    const WCHAR *fields[] = {p[i].pPrinterName, p[i].pPortName, p[i].pDriverName, p[i].pComment,
                             p[i].pLocation};
    for (DWORD f = 0; f < 5; ++f) {
      if (f) out::Tab();
      out::Wide(fields[f]);
    }
    out::Tab();
    out::Hex(p[i].Attributes);
    out::Tab();
    out::Wide(p[i].pPrintProcessor);
    out::End();
  }
  for (DWORD i = 0; i < count; ++i) SubKeys(p[i].pPrinterName);
  if (buf) HeapFree(GetProcessHeap(), 0, buf);
}

void DefaultPrinter() {
  WCHAR name[260] = {0};
  DWORD size = 260;
  out::Text("default\t");
  if (GetDefaultPrinterW(name, &size)) out::Wide(name);
  out::End();
}

void Tray() {
  HKEY key;
  WCHAR value[264] = {0};
  DWORD size = sizeof(value) - sizeof(WCHAR);
  out::Text("run\t");
  LONG rc = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                          KEY_READ, &key);
  if (rc == ERROR_SUCCESS) {
    rc = RegQueryValueExW(key, L"MorvalenteTray", nullptr, nullptr, (LPBYTE)value, &size);
    RegCloseKey(key);
  }
  if (rc == ERROR_SUCCESS) {
    out::Wide(value);
  } else {
    out::Text("!");
    out::Number((DWORD)rc);
  }
  out::End();

  HANDLE mutex = OpenMutexA(SYNCHRONIZE, FALSE, kMutexName);
  out::Text(mutex ? "traymutex\tpresent\n" : "traymutex\tabsent\n");
  if (mutex) CloseHandle(mutex);
  out::Text(FindWindowW(kTrayClass, nullptr) ? "traywindow\tpresent\n" : "traywindow\tabsent\n");
}

void Pending() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return;
  DWORD size = 0;
  if (RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
          ERROR_SUCCESS &&
      size > 0) {
    DWORD chars = size / 2 + 2;
    WCHAR *data = (WCHAR *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, chars * sizeof(WCHAR));
    if (data && RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, (LPBYTE)data,
                                 &size) == ERROR_SUCCESS) {
      DWORD limit = size / 2;
      DWORD index = 0;
      for (DWORD pos = 0; pos < limit;) {
        DWORD len = (DWORD)lstrlenW(data + pos);
        if (len == 0 && pos + 1 >= limit) break;  // the list's final terminator
        out::Text("pending\t");
        out::Number(index++);
        out::Tab();
        out::Wide(data + pos);
        out::End();
        pos += len + 1;
      }
    }
    if (data) HeapFree(GetProcessHeap(), 0, data);
  }
  RegCloseKey(key);
}

void Spooler() {
  SC_HANDLE scm = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (!scm) {
    Error("OpenSCManagerW", GetLastError());
    return;
  }
  SC_HANDLE svc = OpenServiceW(scm, L"spooler", SERVICE_QUERY_STATUS);
  SERVICE_STATUS status;
  if (svc && QueryServiceStatus(svc, &status)) {
    out::Text("spooler\t");
    out::Number(status.dwCurrentState);
    out::End();
  } else {
    Error("QueryServiceStatus", GetLastError());
  }
  if (svc) CloseServiceHandle(svc);
  CloseServiceHandle(scm);
}

// The fourth number of the file's product version, or -1.
int BuildNumber(const WCHAR *path) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &handle);
  if (size == 0) return -1;
  void *block = HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
  if (!block) return -1;
  int build = -1;
  VS_FIXEDFILEINFO *info = nullptr;
  UINT len = 0;
  if (GetFileVersionInfoW(path, handle, size, block) && VerQueryValueW(block, L"\\", (void **)&info, &len) &&
      info)
    build = (int)LOWORD(info->dwProductVersionLS);
  HeapFree(GetProcessHeap(), 0, block);
  return build;
}

}  // namespace

int wmain(int argc, WCHAR **argv) {
  if (argc == 3 && lstrcmpW(argv[1], L"build") == 0) {
    out::Text("build\t");
    out::Wide(argv[2]);
    out::Tab();
    out::Signed(BuildNumber(argv[2]));
    out::End();
    return 0;
  }
  if (argc != 1) {
    out::Text("usage: mrvprobe [build PATH]\n");
    return 2;
  }
  Spooler();
  Monitors();
  Ports();
  Drivers();
  Printers();
  DefaultPrinter();
  Tray();
  Pending();
  return 0;
}
