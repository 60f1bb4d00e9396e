// Remembering, deleting and re-creating the product's printers.
#include "spool/printers.h"

#include <cstring>

#include "app/error_codes.h"
#include "app/log.h"
#include "app/run_lists.h"
#include "common/product.h"
#include "common/text.h"
#include "spool/spooler_calls.h"
#include "spool/spooler_lists.h"

namespace {

const char SubKeyValue[] = "SubKey";
const char DsUserKey[] = "DsUser";
const char SettingsRoot[] = "Software\\Garrowe Software KFT\\Morvalente";
const char SettingsPrefix[] = "Morvalentes\\";  // before a settings name, below the root
const DWORD SettingsBufferBytes = 260;

// DELETE together with PRINTER_ACCESS_ADMINISTER.
const DWORD DeleteAccess = 0x10004;

LPCWSTR NameOrStar(LPCWSTR name) {
  return name != nullptr ? name : W("*");
}

// A zero-filled GlobalAlloc block, or null.
void *ZeroedBlock(SIZE_T size) {
  void *block = GlobalAlloc(GMEM_FIXED, size);
  if (block != nullptr) std::memset(block, 0, size);
  return block;
}

// What reading a printer's settings name found: a name, none (the values
// are not there, too long or not text), or no answer (the spooler failed the
// reads otherwise).
enum SettingsNameRead { SettingsNameFound, SettingsNameAbsent, SettingsNameUnreadable };

// Whether the bytes offered hold the name's end: a value that fills all 64
// of them without a zero is a name of 64 characters or more, too long, as
// one that does not fit. (A shorter value without its zero ends in the
// zeros the caller's buffer holds behind it.)
BOOL NameEndsInside(LPCSTR buffer) {
  return std::memchr(buffer, 0, SettingsNameBytes) != nullptr;
}

// Whether a printer-data answer says the value is not there, or is too long
// for a settings name; any other failure leaves the question open.
BOOL AnswersAbsent(DWORD result) {
  return result == ERROR_FILE_NOT_FOUND || result == ERROR_MORE_DATA;
}

// ReadSubKey, telling also whether a missing name is known to be missing.
SettingsNameRead ReadSettingsName(HANDLE printer, LPSTR buffer) {
  DWORD type = 0;
  DWORD needed = 0;
  DWORD plain =
      GetPrinterDataA(printer, (LPSTR)SubKeyValue, &type, (LPBYTE)buffer, SettingsNameBytes, &needed);
  if (plain == ERROR_SUCCESS && type == REG_SZ && NameEndsInside(buffer)) return SettingsNameFound;
  // A value of another type may have been read into the buffer: clear what
  // was offered, so a shorter name read next is not followed by its rest.
  std::memset(buffer, 0, SettingsNameBytes);
  type = 0;
  DWORD keyed =
      GetPrinterDataExA(printer, DsUserKey, SubKeyValue, &type, (LPBYTE)buffer, SettingsNameBytes, &needed);
  if (keyed == ERROR_SUCCESS && type == REG_SZ && NameEndsInside(buffer)) return SettingsNameFound;
  std::memset(buffer, 0, SettingsNameBytes);
  if ((plain == ERROR_SUCCESS || AnswersAbsent(plain)) && (keyed == ERROR_SUCCESS || AnswersAbsent(keyed)))
    return SettingsNameAbsent;
  return SettingsNameUnreadable;
}

}  // namespace

void DeleteAllPrinters(InstallContext *ctx) {
  WriteLog(ctx, W(">DeleteAllPrinters"));
  ctx->IndentLevel += 1;
  for (DWORD i = 0; ctx->Printers.Entries != nullptr && i < ctx->Printers.Count; ++i) {
    PRINTER_INFO_2W *record = &ctx->Printers.Entries[i];
    if (!IsProductPrinter(record)) continue;
    if (!SavePrinterSettings(ctx, record)) {
      // Deleting it would lose a printer the install could not bring back.
      WriteLog(ctx, W("Printer %s is kept: its settings could not be read"),
               NameOrStar(record->pPrinterName));
      continue;
    }
    DeletePrinter(ctx, record->pPrinterName);
  }
  ctx->IndentLevel -= 1;
}

BOOL SavePrinterSettings(InstallContext *ctx, PRINTER_INFO_2W *record) {
  HANDLE printer = nullptr;
  if (!OpenPrinterW(record->pPrinterName, &printer, nullptr) || printer == nullptr) return FALSE;
  BOOL settled = TRUE;

  char name[SettingsBufferBytes] = {};
  // A name the spooler did not let us read may be there all the same.
  if (ReadSettingsName(printer, name) == SettingsNameUnreadable) settled = FALSE;
  if (name[0] != 0) {
    SIZE_T length = (SIZE_T)lstrlenA(name);
    SavedPrinter *node = (SavedPrinter *)ZeroedBlock(sizeof(SavedPrinter));
    LPSTR copy = (LPSTR)ZeroedBlock(length + 1);
    if (node != nullptr && copy != nullptr) {
      std::memcpy(copy, name, length);
      node->SettingsName = copy;
      node->Printer = record;
      node->Next = ctx->SavedPrinters;
      ctx->SavedPrinters = node;
    } else {
      // Without memory the printer cannot be remembered.
      if (copy != nullptr) GlobalFree(copy);
      if (node != nullptr) GlobalFree(node);
      settled = FALSE;
    }
  }
  ClosePrinter(printer);
  return settled;
}

void ReadSubKey(HANDLE printer, LPSTR buffer) {
  ReadSettingsName(printer, buffer);
}

BOOL WriteSubKey(HANDLE printer, LPCSTR settingsName) {
  DWORD size = (DWORD)lstrlenA(settingsName) + 1;
  SetPrinterDataA(printer, (LPSTR)SubKeyValue, REG_SZ, (LPBYTE)settingsName, size);
  DWORD result = SetPrinterDataExA(printer, DsUserKey, SubKeyValue, REG_SZ, (LPBYTE)settingsName, size);
  return result == ERROR_SUCCESS;
}

void DeletePrinter(InstallContext *ctx, LPCWSTR name) {
  WriteLog(ctx, W(">DeletePrinter(%s)"), NameOrStar(name));
  ctx->IndentLevel += 1;
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, DeleteAccess};
  HANDLE printer = nullptr;
  if (OpenPrinterW((LPWSTR)name, &printer, &defaults) && printer != nullptr) {
    if (PurgeAndDeletePrinter(printer)) {
      WriteLog(ctx, W("OK"));
    } else {
      LogError(ctx, ErrDeletePrinter, MsgDeletePrinter, name);
    }
    ClosePrinter(printer);
  } else {
    LogError(ctx, ErrOpenPrinter, MsgOpenPrinter, name);
  }
  ctx->IndentLevel -= 1;
}

HANDLE AddPrinter(InstallContext *ctx, LPCWSTR name) {
  WriteLog(ctx, W(">AddPrinter(%s)"), NameOrStar(name));
  ctx->IndentLevel += 1;

  WriteLog(ctx, W("Let's check our port monitors"));
  MonitorList monitors = ListMonitors(ctx);
  if (FindProductMonitor(&monitors) != -1) {
    WriteLog(ctx, W("Port monitor is found"));
  } else {
    WriteLog(ctx, W("No Morvalente port monitor was found."));
    if (monitors.Count > 0) {
      LogMonitorList(ctx, &monitors);
    } else {
      WriteLog(ctx, W("BTW, there is no port monitors on this system."));
    }
  }
  if (monitors.Entries != nullptr) GlobalFree(monitors.Entries);

  PRINTER_INFO_2W info;
  std::memset(&info, 0, sizeof info);
  info.pPrinterName = (LPWSTR)name;
  info.pPortName = (LPWSTR)PRODUCT_MONITOR_NAME;
  info.pDriverName = (LPWSTR)PRODUCT_DRIVER_NAME;
  info.pComment = (LPWSTR)W("");
  info.pPrintProcessor = (LPWSTR)W("WinPrint");
  HANDLE printer = AddPrinterChecked(&info);
  if (printer != nullptr) {
    WriteLog(ctx, W("OK :)"));
  } else {
    LogError(ctx, ErrAddPrinter, MsgAddPrinter, name);
  }
  ctx->IndentLevel -= 1;
  return printer;
}

void RecreatePrinters(InstallContext *ctx) {
  DWORD created = 0;
  for (SavedPrinter *node = ctx->SavedPrinters; node != nullptr; node = node->Next) {
    PRINTER_INFO_2W *saved = node->Printer;
    HANDLE printer = AddPrinter(ctx, saved->pPrinterName);
    if (printer == nullptr) continue;

    if (WriteSubKey(printer, node->SettingsName)) {
      // "Morvalentes\" and the settings name read back from the new printer.
      char path[SettingsBufferBytes] = {};
      const DWORD prefix = sizeof SettingsPrefix - 1;
      std::memcpy(path, SettingsPrefix, prefix);
      ReadSubKey(printer, path + prefix);
      if (path[prefix] != 0) ClearDeletedMark(path);
    }

    PRINTER_INFO_2W *info = FetchPrinterInfo(printer);
    if (info != nullptr) {
      info->pComment = saved->pComment;
      info->pLocation = saved->pLocation;
      SetPrinterW(printer, 2, (LPBYTE)info, 0);
      if ((saved->Attributes & PRINTER_ATTRIBUTE_DEFAULT) != 0 && IsProductPrinter(saved)) {
        SpoolSetDefaultPrinterW(info->pPrinterName);
      }
      GlobalFree(info);
    }
    ClosePrinter(printer);
    created += 1;
  }
  if (created == 0) {
    HANDLE printer = AddPrinter(ctx, W("Morvalente"));
    if (printer != nullptr) ClosePrinter(printer);
  }
}

BOOL ClearDeletedMark(LPCSTR path) {
  // The root, a backslash, the path and the terminator, all of it.
  SIZE_T rootLength = sizeof SettingsRoot - 1;
  SIZE_T pathLength = (SIZE_T)lstrlenA(path);
  LPSTR keyPath = (LPSTR)ZeroedBlock(rootLength + 1 + pathLength + 1);
  if (keyPath == nullptr) return FALSE;
  std::memcpy(keyPath, SettingsRoot, rootLength);
  keyPath[rootLength] = '\\';
  if (pathLength > 0) std::memcpy(keyPath + rootLength + 1, path, pathLength);

  HKEY key = nullptr;
  LSTATUS opened = RegOpenKeyExA(HKEY_CURRENT_USER, keyPath, 0, KEY_ALL_ACCESS, &key);
  GlobalFree(keyPath);
  if (opened != ERROR_SUCCESS) return FALSE;
  LSTATUS deleted = RegDeleteValueA(key, "deleted");
  RegCloseKey(key);
  return deleted == ERROR_SUCCESS;
}
