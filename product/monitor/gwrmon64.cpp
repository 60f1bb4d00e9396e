// gwrmon64.dll: the port monitor "Morvalente:".
//
// The spooler loads this DLL and calls InitializePrintMonitor2, which hands it
// the MONITOR2 table below. The monitor provides exactly one port,
// "Morvalente:". A job sent to it is written to a file of its own in the
// spooler's temporary directory, "Morvalente-<job id>.prn"; when that file
// cannot be created the job's start fails with the system's error, so no data
// is ever dropped silently.
#include <windows.h>
#include <winsplp.h>
#include <winspool.h>

namespace {

const WCHAR kPortName[] = L"Morvalente:";
const WCHAR kMonitorName[] = L"Morvalente:";
const WCHAR kPortDescription[] = L"Morvalente virtual printer port";

const DWORD kMonitorMagic = 0x4E4F4D47;  // 'GMON'
const DWORD kPortMagic = 0x54524F50;     // 'PORT'

// What the spooler gets back from InitializePrintMonitor2 as its handle.
struct MonitorInstance {
  DWORD magic;
};

// One opened port. file is INVALID_HANDLE_VALUE outside a job.
struct PortInstance {
  DWORD magic;
  HANDLE file;
  DWORD job;
  WCHAR printer[MAX_PATH];
};

// Bytes a wide string takes with its terminator.
DWORD StringBytes(const WCHAR *s) {
  return (DWORD)(lstrlenW(s) + 1) * sizeof(WCHAR);
}

// Copies s to the end of the string area that ends at *end, moves *end down
// and returns where the string now lies. The caller has checked the room.
WCHAR *PackString(LPBYTE *end, const WCHAR *s) {
  DWORD bytes = StringBytes(s);
  *end -= bytes;
  CopyMemory(*end, s, bytes);
  return (WCHAR *)*end;
}

PortInstance *AsPort(HANDLE h) {
  PortInstance *port = (PortInstance *)h;
  if (!port || port->magic != kPortMagic) return nullptr;
  return port;
}

BOOL WINAPI MonEnumPorts(HANDLE hMonitor, LPWSTR pName, DWORD Level, LPBYTE pPorts, DWORD cbBuf,
                         LPDWORD pcbNeeded, LPDWORD pcReturned) {
  if (!pcbNeeded || !pcReturned) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *pcReturned = 0;
  DWORD needed;
  if (Level == 1) {
    needed = sizeof(PORT_INFO_1W) + StringBytes(kPortName);
  } else if (Level == 2) {
    needed = sizeof(PORT_INFO_2W) + StringBytes(kPortName) + StringBytes(kMonitorName) +
             StringBytes(kPortDescription);
  } else {
    *pcbNeeded = 0;
    SetLastError(ERROR_INVALID_LEVEL);
    return FALSE;
  }
  *pcbNeeded = needed;
  if (!pPorts || cbBuf < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  LPBYTE end = pPorts + needed;
  if (Level == 1) {
    PORT_INFO_1W *info = (PORT_INFO_1W *)pPorts;
    info->pName = PackString(&end, kPortName);
  } else {
    PORT_INFO_2W *info = (PORT_INFO_2W *)pPorts;
    info->pPortName = PackString(&end, kPortName);
    info->pMonitorName = PackString(&end, kMonitorName);
    info->pDescription = PackString(&end, kPortDescription);
    info->fPortType = PORT_TYPE_WRITE;
    info->Reserved = 0;
  }
  *pcReturned = 1;
  return TRUE;
}

BOOL WINAPI MonOpenPort(HANDLE hMonitor, LPWSTR pName, PHANDLE pHandle) {
  if (!pHandle || !pName || lstrcmpiW(pName, kPortName) != 0) {
    SetLastError(ERROR_UNKNOWN_PORT);
    return FALSE;
  }
  PortInstance *port = (PortInstance *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(PortInstance));
  if (!port) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  port->magic = kPortMagic;
  port->file = INVALID_HANDLE_VALUE;
  *pHandle = port;
  return TRUE;
}

// Builds "<temp>\Morvalente-<job>.prn" into path (MAX_PATH characters).
BOOL JobFilePath(DWORD job, WCHAR *path) {
  WCHAR dir[MAX_PATH];
  DWORD n = GetTempPathW(MAX_PATH, dir);
  if (n == 0 || n >= MAX_PATH) return FALSE;
  WCHAR digits[12];
  int d = 0;
  do {
    digits[d++] = (WCHAR)(L'0' + job % 10);
    job /= 10;
  } while (job);
  WCHAR name[40] = L"Morvalente-";
  int n2 = lstrlenW(name);
  while (d) name[n2++] = digits[--d];
  name[n2] = 0;
  lstrcatW(name, L".prn");
  if ((DWORD)lstrlenW(dir) + (DWORD)lstrlenW(name) + 1 > MAX_PATH) return FALSE;
  lstrcpyW(path, dir);
  lstrcatW(path, name);
  return TRUE;
}

BOOL WINAPI MonStartDocPort(HANDLE hPort, LPWSTR pPrinterName, DWORD JobId, DWORD Level, LPBYTE pDocInfo) {
  PortInstance *port = AsPort(hPort);
  if (!port) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (port->file != INVALID_HANDLE_VALUE) {
    CloseHandle(port->file);
    port->file = INVALID_HANDLE_VALUE;
  }
  WCHAR path[MAX_PATH];
  if (!JobFilePath(JobId, path)) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return FALSE;  // CreateFileW set the error
  port->file = file;
  port->job = JobId;
  port->printer[0] = 0;
  if (pPrinterName && lstrlenW(pPrinterName) < MAX_PATH) lstrcpyW(port->printer, pPrinterName);
  return TRUE;
}

BOOL WINAPI MonWritePort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbWritten) {
  PortInstance *port = AsPort(hPort);
  if (pcbWritten) *pcbWritten = 0;
  if (!port || !pcbWritten) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (port->file == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return FALSE;
  }
  if (cbBuf == 0) return TRUE;
  return WriteFile(port->file, pBuffer, cbBuf, pcbWritten, nullptr);
}

BOOL WINAPI MonReadPort(HANDLE hPort, LPBYTE pBuffer, DWORD cbBuffer, LPDWORD pcbRead) {
  if (pcbRead) *pcbRead = 0;
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

BOOL WINAPI MonEndDocPort(HANDLE hPort) {
  PortInstance *port = AsPort(hPort);
  if (!port) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  BOOL ok = TRUE;
  if (port->file != INVALID_HANDLE_VALUE) {
    ok = FlushFileBuffers(port->file);
    CloseHandle(port->file);
    port->file = INVALID_HANDLE_VALUE;
  }
  // The job's data is out of the spooler's hands: tell it so, or the job
  // stays in the queue.
  HANDLE printer = nullptr;
  if (port->printer[0] && OpenPrinterW(port->printer, &printer, nullptr)) {
    SetJobW(printer, port->job, 0, nullptr, JOB_CONTROL_SENT_TO_PRINTER);
    ClosePrinter(printer);
  }
  return ok;
}

BOOL WINAPI MonClosePort(HANDLE hPort) {
  PortInstance *port = AsPort(hPort);
  if (!port) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (port->file != INVALID_HANDLE_VALUE) CloseHandle(port->file);
  port->magic = 0;
  HeapFree(GetProcessHeap(), 0, port);
  return TRUE;
}

VOID WINAPI MonShutdown(HANDLE hMonitor) {
  MonitorInstance *instance = (MonitorInstance *)hMonitor;
  if (instance && instance->magic == kMonitorMagic) {
    instance->magic = 0;
    HeapFree(GetProcessHeap(), 0, instance);
  }
}

MONITOR2 g_monitor = {
    sizeof(MONITOR2), MonEnumPorts, MonOpenPort,
    nullptr,  // OpenPortEx: only language monitors
    MonStartDocPort,  MonWritePort, MonReadPort, MonEndDocPort, MonClosePort,
    nullptr,  // AddPort: the one port is fixed
    nullptr,  // AddPortEx
    nullptr,  // ConfigurePort
    nullptr,  // DeletePort
    nullptr,  // GetPrinterDataFromPort
    nullptr,  // SetPortTimeOuts
    nullptr,  // XcvOpenPort
    nullptr,  // XcvDataPort
    nullptr,  // XcvClosePort
    MonShutdown,
    nullptr,  // SendRecvBidiDataFromPort
    nullptr,  // NotifyUsedPorts
    nullptr,  // NotifyUnusedPorts
};

}  // namespace

extern "C" {

// Entry point the spooler looks up when it loads the monitor.
LPMONITOR2 WINAPI InitializePrintMonitor2(PMONITORINIT pMonitorInit, PHANDLE phMonitor) {
  if (!pMonitorInit || !phMonitor) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  MonitorInstance *instance =
      (MonitorInstance *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(MonitorInstance));
  if (!instance) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  instance->magic = kMonitorMagic;
  *phMonitor = instance;
  return &g_monitor;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

}  // extern "C"
