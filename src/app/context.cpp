#include "app/context.h"

#include "app/dispatch.h"
#include "app/error_codes.h"
#include "app/log.h"
#include "common/product.h"
#include "common/text.h"

namespace {

const DWORD ManagerAccess = STANDARD_RIGHTS_REQUIRED | SC_MANAGER_CONNECT;  // 0xF0001
const DWORD SpoolerAccess = SERVICE_QUERY_STATUS | SERVICE_START;           // 20
const DWORD PrinterEnumFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
const int SpoolerPolls = 50;
const DWORD SpoolerPollMs = 200;
const DWORD PathUnits = MAX_PATH;       // 260
const DWORD DefaultPrinterUnits = 255;  // capacity passed to the get-default-printer call

BOOL EndsWithBackslash(LPCWSTR text) {
  uint64_t n = TextLength(text);
  return n > 0 && text[n - 1] == '\\';
}

// Assigns `text` to `target`, with a backslash behind it when it is not empty
// and does not end in one. All or nothing: when memory runs short the target
// is left empty and the result is FALSE.
BOOL AssignDirectory(CountedString *target, LPCWSTR text) {
  BOOL ok = AssignCountedString(target, text);
  if (ok && CountedStringLength(*target) > 0 && !EndsWithBackslash(text))
    ok = AppendCountedString(target, W("\\"));
  if (!ok) {
    FreeCountedString(target);
    SetLastError((DWORD)E_OUTOFMEMORY);
  }
  return ok;
}

void SetModuleDir(InstallContext *ctx) {
  WCHAR path[PathUnits + 1] = {};
  DWORD length = GetModuleFileNameW((HMODULE)ProgramInstance, path, PathUnits);
  // A path that did not fit is not the module's path: no directory then.
  if (length == 0 || length >= PathUnits) return;
  path[length] = 0;
  uint64_t cut = 0;
  for (uint64_t i = 0; i < length; ++i) {
    if (path[i] == '\\' || path[i] == '/' || path[i] == ':') cut = i + 1;
  }
  path[cut] = 0;
  AssignCountedString(&ctx->ModuleDir, path);
}

void SetSystemDir(InstallContext *ctx) {
  WCHAR path[PathUnits + 1] = {};
  UINT length = GetSystemDirectoryW(path, PathUnits);
  // A result of PathUnits or more is the size the directory would need.
  if (length == 0 || length >= PathUnits) {
    LogError(ctx, ErrSystemDirectory, MsgSystemDirectory);
    return;
  }
  path[length] = 0;
  // A directory that could not be kept is as good as none: error 7 too.
  if (!AssignDirectory(&ctx->SystemDir, path)) LogError(ctx, ErrSystemDirectory, MsgSystemDirectory);
}

}  // namespace

InstallContext *InitContext(InstallContext *ctx, DWORD flags) {
  *ctx = InstallContext{};
  ctx->ErrorCount = 0;
  ctx->IndentLevel = 0;
  WriteLog(ctx, W("Morvalente %d"), InstallerBuild);

  ctx->VerifyMonitorVersion = 0;
  ctx->InstallMonitor = 1;
  ctx->LaunchTray = 1;
  ctx->CopyMonitor = 1;
  if ((flags & RunFlagNoTray) != 0) ctx->LaunchTray = 0;

  CheckSpooler(ctx);
  SelectEnvironment(ctx, (flags & RunFlag64Bit) != 0);
  ctx->RedirectedPrinters = nullptr;
  SetModuleDir(ctx);
  SetSystemDir(ctx);
  MarkDefaultPrinter(ctx);
  return ctx;
}

void FreeContext(InstallContext *ctx) {
  if (ctx->RedirectedPrinters != nullptr) GlobalFree(ctx->RedirectedPrinters);
  ctx->RedirectedPrinters = nullptr;
  FreePrinterList(&ctx->Printers);
  SavedPrinter *first = ctx->SavedPrinters;
  if (first != nullptr) {
    if (first->SettingsName != nullptr) GlobalFree(first->SettingsName);
    FreeSavedPrinterChain(first->Next);
    GlobalFree(first);
  }
  ctx->SavedPrinters = nullptr;
  ClearLockedFileList(&ctx->LockedFiles);
  FreeCountedString(&ctx->DriverDir);
  FreeCountedString(&ctx->Log);
  FreeCountedString(&ctx->SystemDir);
  FreeCountedString(&ctx->ModuleDir);
}

void SelectEnvironment(InstallContext *ctx, BOOL is64Bit) {
  ctx->Is64Bit = is64Bit ? 1 : 0;
  if (is64Bit) {
    ctx->Environment = ENVIRONMENT_X64;
    ctx->MonitorFile = MONITOR_FILE_X64;
    ctx->DriverFile = DRIVER_FILE_X64;
    ctx->UiFile = UI_FILE_X64;
  } else {
    ctx->Environment = ENVIRONMENT_X86;
    ctx->MonitorFile = MONITOR_FILE_X86;
    ctx->DriverFile = DRIVER_FILE_X86;
    ctx->UiFile = UI_FILE_X86;
  }

  DWORD needed = 0;
  BYTE *buffer = nullptr;
  BOOL failed = FALSE;
  if (GetPrinterDriverDirectoryW(nullptr, (LPWSTR)ctx->Environment, 1, nullptr, 0, &needed)) {
    // Nothing to read: no directory, nothing logged.
  } else if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    failed = TRUE;
  } else {
    // Two units of zeros behind the spooler's answer keep the text terminated
    // whatever it wrote.
    buffer = (BYTE *)GlobalAlloc(GPTR, (SIZE_T)needed + 2 * sizeof(WCHAR));
    if (buffer == nullptr) {
      SetLastError((DWORD)E_OUTOFMEMORY);
      failed = TRUE;
    } else if (!GetPrinterDriverDirectoryW(nullptr, (LPWSTR)ctx->Environment, 1, buffer, needed, &needed)) {
      failed = TRUE;
    } else {
      LPCWSTR directory = (LPCWSTR)buffer;
      WriteLog(ctx, W("PrinterDriverDirectory(1):%s"), directory);
      if (AssignDirectory(&ctx->DriverDir, directory))
        WriteLog(ctx, W("PrinterDriverDirectory(2):%s"), CountedStringText(ctx->DriverDir));
      else
        failed = TRUE;
    }
  }
  if (failed) LogError(ctx, ErrDriverDirectory, MsgDriverDirectory);
  if (buffer != nullptr) GlobalFree(buffer);
  ctx->HelpFile = HELP_FILE;
}

BOOL CheckSpooler(InstallContext *ctx) {
  WriteLog(ctx, W(">Check Spooler"));
  ctx->IndentLevel += 1;
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, ManagerAccess);
  if (manager == nullptr) {
    LogError(ctx, ErrOpenServiceManager, MsgOpenServiceManager);
    ctx->IndentLevel -= 1;
    return FALSE;
  }
  BOOL running = TRUE;
  SC_HANDLE service = OpenServiceW(manager, W("spooler"), SpoolerAccess);
  if (service == nullptr) {
    LogError(ctx, ErrOpenSpooler, MsgOpenSpooler);
    running = FALSE;
  } else {
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service, &status) && status.dwCurrentState != SERVICE_RUNNING) {
      if (!StartSpoolerAndWait(service)) {
        LogError(ctx, ErrStartSpooler, MsgStartSpooler);
        running = FALSE;
      }
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  ctx->IndentLevel -= 1;
  return running;
}

BOOL StartSpoolerAndWait(SC_HANDLE service) {
  StartServiceW(service, 0, nullptr);
  SERVICE_STATUS status = {};
  QueryServiceStatus(service, &status);
  for (int i = 0; i < SpoolerPolls; ++i) {
    if (status.dwCurrentState == SERVICE_RUNNING) return TRUE;
    Sleep(SpoolerPollMs);
    QueryServiceStatus(service, &status);
  }
  return status.dwCurrentState == SERVICE_RUNNING;
}

void LoadPrinterList(PrinterList *list) {
  FreePrinterList(list);
  DWORD needed = 0;
  DWORD count = 0;
  if (EnumPrintersW(PrinterEnumFlags, nullptr, 2, nullptr, 0, &needed, &count)) return;
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return;
  // 32 bytes of zeros behind what the spooler asked for.
  BYTE *block = (BYTE *)GlobalAlloc(GPTR, (SIZE_T)needed + 32);
  if (block == nullptr) {
    SetLastError((DWORD)E_OUTOFMEMORY);
    return;
  }
  list->Entries = (PRINTER_INFO_2W *)block;
  count = 0;
  if (!EnumPrintersW(PrinterEnumFlags, nullptr, 2, block, needed, &needed, &count)) {
    FreePrinterList(list);
    return;
  }
  list->Count = count;
}

void FreePrinterList(PrinterList *list) {
  if (list->Entries != nullptr) GlobalFree(list->Entries);
  list->Entries = nullptr;
  list->Count = 0;
}

BOOL IsProductPrinter(const PRINTER_INFO_2W *record) {
  return TextEquals(record->pDriverName, PRODUCT_DRIVER_NAME);
}

PRINTER_INFO_2W *FirstProductPrinter(const PrinterList *list) {
  for (DWORD i = 0; list->Entries != nullptr && i < list->Count; ++i) {
    if (IsProductPrinter(&list->Entries[i])) return &list->Entries[i];
  }
  return nullptr;
}

void MarkDefaultPrinter(InstallContext *ctx) {
  LoadPrinterList(&ctx->Printers);
  // One unit more than the capacity passed keeps the name terminated.
  WCHAR name[DefaultPrinterUnits + 1] = {};
  DWORD capacity = DefaultPrinterUnits;
  if (!SpoolGetDefaultPrinterW(name, &capacity)) return;
  for (DWORD i = 0; i < ctx->Printers.Count; ++i) {
    PRINTER_INFO_2W *record = &ctx->Printers.Entries[i];
    if (record->pPrinterName != nullptr && TextEquals(record->pPrinterName, name)) {
      record->Attributes |= PRINTER_ATTRIBUTE_DEFAULT;
    }
  }
}
