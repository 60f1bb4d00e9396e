#include "spool/monitor.h"

#include "app/error_codes.h"
#include "app/log.h"
#include "common/counted_string.h"
#include "common/product.h"
#include "spool/spooler_calls.h"
#include "sys/build_number.h"
#include "sys/file_copy.h"
#include "sys/locked_files.h"
#include "sys/spooler_restart.h"

namespace {

const WCHAR ProductPort[] = W("Morvalente:");  // 11 characters
const WCHAR ParkingPort[] = W("file:");        // 5 characters
const uint64_t ProductPortChars = 11;
const uint64_t ParkingPortChars = 5;

// Position of the first occurrence of `what` (of `whatChars` units) in
// `text`, or -1.
int64_t Find(LPCWSTR text, LPCWSTR what, uint64_t whatChars) {
  if (text == nullptr) return -1;
  for (int64_t i = 0; text[i] != 0; ++i) {
    uint64_t k = 0;
    while (k < whatChars && text[i + k] == what[k]) ++k;
    if (k == whatChars) return i;
  }
  return -1;
}

// A file name without any directory part: not empty, and without a
// backslash, forward slash or colon.
BOOL IsBareFileName(LPCWSTR name) {
  if (name == nullptr || name[0] == 0) return FALSE;
  for (LPCWSTR p = name; *p != 0; ++p)
    if (*p == '\\' || *p == '/' || *p == ':') return FALSE;
  return TRUE;
}

// Applies the record to its printer with SetPrinterW and logs the outcome.
void UpdatePrinter(InstallContext *ctx, PRINTER_INFO_2W *record, PRINTER_DEFAULTSW *defaults) {
  HANDLE printer = nullptr;
  if (!OpenPrinterW(record->pPrinterName, &printer, defaults) || printer == nullptr) {
    TouchErrorText();
    WriteLog(ctx, W("Can't open printer %s"), record->pPrinterName);
    return;
  }
  if (SetPrinterW(printer, 2, reinterpret_cast<LPBYTE>(record), 0))
    WriteLog(ctx, W("SetPrinter(%s) - ok"), record->pPrinterName);
  else
    WriteLog(ctx, W("SetPrinter(%s) - failed"), record->pPrinterName);
  ClosePrinter(printer);
}

// Gives the parked printers their port back.
void RestorePorts(InstallContext *ctx) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  for (PRINTER_INFO_2W **slot = ctx->RedirectedPrinters; *slot != nullptr; ++slot) {
    PRINTER_INFO_2W *record = *slot;
    int64_t at = Find(record->pPortName, ParkingPort, ParkingPortChars);
    if (at < 0) continue;
    // Move the tail (with its zero) 6 characters toward the end, from the
    // back, then write the product's port over the parking port. The string
    // ends where it ended when the printers were enumerated.
    LPWSTR port = record->pPortName;
    uint64_t tail = static_cast<uint64_t>(at) + ParkingPortChars;
    uint64_t end = tail;
    while (port[end] != 0) ++end;
    const uint64_t grow = ProductPortChars - ParkingPortChars;
    for (uint64_t i = end + 1; i-- > tail;) port[i + grow] = port[i];
    for (uint64_t i = 0; i < ProductPortChars; ++i) port[at + i] = ProductPort[i];
    UpdatePrinter(ctx, record, &defaults);
  }
}

}  // namespace

void RedirectPrinters(InstallContext *ctx) {
  if (ctx->RedirectedPrinters != nullptr) GlobalFree(ctx->RedirectedPrinters);
  ctx->RedirectedPrinters = nullptr;
  if (ctx->Printers.Count == 0) return;
  PRINTER_INFO_2W **slots = static_cast<PRINTER_INFO_2W **>(
      GlobalAlloc(GPTR, (static_cast<SIZE_T>(ctx->Printers.Count) + 1) * sizeof(PRINTER_INFO_2W *)));
  // Without the array a parked printer could not be given its port back, so
  // no printer is parked; the removal is still retried.
  if (slots == nullptr) return;
  ctx->RedirectedPrinters = slots;

  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  DWORD used = 0;
  for (DWORD i = 0; i < ctx->Printers.Count; ++i) {
    PRINTER_INFO_2W *record = &ctx->Printers.Entries[i];
    int64_t at = Find(record->pPortName, ProductPort, ProductPortChars);
    if (at < 0) continue;
    slots[used++] = record;
    // "Morvalente:" becomes "file:"; the rest moves 6 characters toward the
    // start, its zero included. The string only shrinks.
    LPWSTR port = record->pPortName;
    for (uint64_t k = 0; k < ParkingPortChars; ++k) port[at + k] = ParkingPort[k];
    uint64_t from = static_cast<uint64_t>(at) + ProductPortChars;
    uint64_t to = static_cast<uint64_t>(at) + ParkingPortChars;
    do {
      port[to++] = port[from];
    } while (port[from++] != 0);
    UpdatePrinter(ctx, record, &defaults);
  }
}

void DeleteMonitor(InstallContext *ctx, const MonitorList *monitors) {
  CountedString path = nullptr;
  LONG index = -1;
  LPCWSTR dll = nullptr;
  BOOL named = FALSE;

  WriteLog(ctx, W(">DeleteMonitor"));
  ctx->IndentLevel += 1;

  if (monitors->Count > 0)
    LogMonitorList(ctx, monitors);
  else
    WriteLog(ctx, W("BTW, there is no port monitors on this system."));

  index = FindProductMonitor(monitors);
  if (index < 0)
    WriteLog(ctx, W("No Morvalente port monitor was found."));
  else
    WriteLog(ctx, W("Port monitor is found. Index=%d"), static_cast<int>(index + 1));
  const BOOL found = index >= 0;

  // The file is only ever named by its full path in the system directory:
  // without the directory, or with a path cut short for lack of memory, it
  // would name a file of the current directory or the directory itself.
  named = CountedStringLength(ctx->SystemDir) > 0 &&
          AssignCountedString(&path, CountedStringText(ctx->SystemDir));
  if (!found) {
    WriteLog(ctx, W("Computing monitor filename"));
    dll = ctx->MonitorFile;
  } else {
    WriteLog(ctx, W("Trying to get monitor filename from MONITOR_INFO_2"));
    dll = reinterpret_cast<const MONITOR_INFO_2W *>(monitors->Entries)[index].pDLLName;
    // A record without a DLL name would leave the path at the system
    // directory itself, and one with a directory in it would lead out of it;
    // the monitor's own file name stands in for either.
    if (!IsBareFileName(dll)) dll = ctx->MonitorFile;
  }
  if (dll == nullptr || dll[0] == 0 || !AppendCountedString(&path, dll)) named = FALSE;
  if (!named) FreeCountedString(&path);
  WriteLog(ctx, W("Auto calculated monitor file name: %s"), CountedStringText(path));

  if (!ctx->VerifyMonitorVersion) {
    WriteLog(ctx, W("There is no check for monitor version"));
  } else {
    LONG build = BuildNumber(CountedStringText(path));
    if (build >= CompatibleMonitorBuildLow && build <= CompatibleMonitorBuildHigh) {
      WriteLog(ctx, W("Version (%d) is compatible, proceed without uninstall"), static_cast<int>(build));
      if (found)
        ctx->InstallMonitor = 0;
      else
        ctx->CopyMonitor = 0;
      WriteLog(ctx, W("InstallMonitor == %d, CopyMonitor == %d"), ctx->InstallMonitor ? 1 : 0,
               ctx->CopyMonitor ? 1 : 0);
      goto done;
    }
    if (build == -1)
      WriteLog(ctx, W("Version is unknown, proceed with reinstall"));
    else
      WriteLog(ctx, W("Version (%d) is not supported, proceed with reinstall"), static_cast<int>(build));
  }

  if (!DeleteMonitorChecked(ctx->Environment)) {
    if (!found) {
      WriteLog(ctx, W("Can't delete monitor and monitor was not found. So everything should be ok"));
      goto done;
    }
    WriteLog(ctx, W("Can't delete monitor from the first try"));
    RedirectPrinters(ctx);
    if (!DeleteMonitorChecked(ctx->Environment)) {
      {
        SpoolerRestart restart;
        RestartSpooler(&restart, ctx);
        FinishSpoolerRestart(&restart);
      }
      if (!DeleteMonitorChecked(ctx->Environment)) {
        LogError(ctx, ErrRemoveMonitor, MsgRemoveMonitor);
        goto done;
      }
    }
  }

  if (named) {
    DeleteOrRemember(ctx, CountedStringText(path));
  } else if (CountedStringLength(ctx->SystemDir) > 0) {
    // The monitor is gone but its file could not be named: it stays.
    SetLastError((DWORD)E_OUTOFMEMORY);
    LogError(ctx, ErrRemoveMonitor, MsgRemoveMonitor);
  }
  WriteLog(ctx, W("Monitor was removed :)"));

done:
  FreeCountedString(&path);
  ctx->IndentLevel -= 1;
}

void AddMonitor(InstallContext *ctx) {
  WCHAR destination[MAX_PATH] = {};
  MONITOR_INFO_2W info = {};
  BOOL added = FALSE;

  WriteLog(ctx, W(">AddMonitor"));
  ctx->IndentLevel += 1;

  if (!ctx->CopyMonitor) {
    WriteLog(ctx, W("Skip copy monitor file"));
  } else {
    WriteLog(ctx, W("Copy monitor file"));
    LPCWSTR systemDir = CountedStringText(ctx->SystemDir);
    if (CopyFile(ctx, systemDir, ctx->MonitorFile, destination, FALSE) != S_OK) {
      // The old file may still be loaded by the spooler: copy again while it
      // is stopped, this time reporting.
      SpoolerRestart restart;
      RestartSpooler(&restart, ctx);
      CopyFile(ctx, systemDir, ctx->MonitorFile, destination, TRUE);
      FinishSpoolerRestart(&restart);
    }
  }

  info.pName = const_cast<LPWSTR>(PRODUCT_MONITOR_NAME);
  info.pEnvironment = const_cast<LPWSTR>(ctx->Environment);
  info.pDLLName = const_cast<LPWSTR>(ctx->MonitorFile);
  for (int attempt = 1; attempt <= AddMonitorTries; ++attempt) {
    if (attempt > 1) Sleep(AddMonitorRetryPauseMs);
    if (AddMonitorW(nullptr, 2, reinterpret_cast<LPBYTE>(&info))) {
      added = TRUE;
      break;
    }
    WriteLog(ctx, W("AddMonitor - failed. Trying to wait and install again"));
  }
  if (!added) {
    LogError(ctx, ErrInstallMonitor, MsgInstallMonitor);
  } else {
    WriteLog(ctx, W("AddMonitor - OK :)"));
    if (ctx->RedirectedPrinters != nullptr && ctx->RedirectedPrinters[0] != nullptr) RestorePorts(ctx);
  }
  ctx->IndentLevel -= 1;
}
