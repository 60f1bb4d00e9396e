// Enumerations of the spooler's port monitors and drivers, the finders of the
// product's monitor and driver, and the log listing of the monitors.
#include "spool/spooler_lists.h"

#include <cstddef>
#include <cstring>

#include "app/log.h"
#include "common/product.h"
#include "common/text.h"

namespace {

// Where the name of a monitor record lies, and the record's size; FALSE for a
// level the finder does not know.
BOOL MonitorLayout(DWORD level, size_t *size, size_t *nameOffset) {
  switch (level) {
    case 1:
      *size = sizeof(MONITOR_INFO_1W);
      *nameOffset = offsetof(MONITOR_INFO_1W, pName);
      return TRUE;
    case 2:
      *size = sizeof(MONITOR_INFO_2W);
      *nameOffset = offsetof(MONITOR_INFO_2W, pName);
      return TRUE;
    default:
      return FALSE;
  }
}

BOOL DriverLayout(DWORD level, size_t *size, size_t *nameOffset) {
  switch (level) {
    case 1:
      *size = sizeof(DRIVER_INFO_1W);
      *nameOffset = offsetof(DRIVER_INFO_1W, pName);
      return TRUE;
    case 2:
      *size = sizeof(DRIVER_INFO_2W);
      *nameOffset = offsetof(DRIVER_INFO_2W, pName);
      return TRUE;
    case 3:
      *size = sizeof(DRIVER_INFO_3W);
      *nameOffset = offsetof(DRIVER_INFO_3W, pName);
      return TRUE;
    case 4:
      *size = sizeof(DRIVER_INFO_4W);
      *nameOffset = offsetof(DRIVER_INFO_4W, pName);
      return TRUE;
    case 5:
      *size = sizeof(DRIVER_INFO_5W);
      *nameOffset = offsetof(DRIVER_INFO_5W, pName);
      return TRUE;
    case 6:
      *size = sizeof(DRIVER_INFO_6W);
      *nameOffset = offsetof(DRIVER_INFO_6W, pName);
      return TRUE;
    default:
      return FALSE;
  }
}

// The name pointer of record `index`.
LPCWSTR RecordName(const BYTE *entries, DWORD index, size_t size, size_t nameOffset) {
  LPCWSTR name = nullptr;
  std::memcpy(&name, entries + (size_t)index * size + nameOffset, sizeof name);
  return name;
}

// First record whose name equals `product` exactly; -1 when none does.
LONG FindByName(const BYTE *entries, DWORD count, DWORD level, LPCWSTR product,
                BOOL (*layout)(DWORD, size_t *, size_t *)) {
  if (count == 0 || entries == nullptr) return -1;
  size_t size = 0;
  size_t nameOffset = 0;
  if (!layout(level, &size, &nameOffset)) return -1;
  for (DWORD i = 0; i < count; ++i) {
    LPCWSTR name = RecordName(entries, i, size, nameOffset);
    if (name != nullptr && TextEquals(name, product)) return (LONG)i;
  }
  return -1;
}

// Writes `format` with the system text of `code` (or the stand-in when the
// system has none).
void LogFailure(InstallContext *ctx, LPCWSTR format, DWORD code) {
  LPWSTR text = SystemErrorText(code);
  WriteLog(ctx, format, text != nullptr ? (LPCWSTR)text : W("No Error or no description"));
  if (text != nullptr) LocalFree(text);
}

}  // namespace

MonitorList ListMonitors(InstallContext *ctx) {
  MonitorList list = {nullptr, 2, 0};
  DWORD needed = 0;
  if (EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &list.Count)) {
    WriteLog(ctx, W("1. EnumMonitors returns true"));
    list.Count = 0;
    return list;
  }
  DWORD error = GetLastError();
  if (error != ERROR_INSUFFICIENT_BUFFER) {
    LogFailure(ctx, W("2. EnumMonitors  failed with code: %s"), error);
    list.Count = 0;
    SetLastError(error);
    return list;
  }
  BYTE *block = (BYTE *)GlobalAlloc(GMEM_FIXED, needed);
  if (block == nullptr) {
    SetLastError((DWORD)E_OUTOFMEMORY);
    WriteLog(ctx, W("3. EnumMonitors - can't allocate memory for buffer"));
    list.Count = 0;
    return list;
  }
  std::memset(block, 0, needed);
  list.Entries = block;
  if (!EnumMonitorsW(nullptr, 2, block, needed, &needed, &list.Count)) {
    error = GetLastError();
    LogFailure(ctx, W("3. EnumMonitors  failed with code: %s"), error);
    GlobalFree(block);
    list.Entries = nullptr;
    list.Count = 0;
    SetLastError(error);
  }
  return list;
}

DriverList ListDrivers(LPCWSTR environment) {
  DriverList list = {nullptr, 6, 0};
  DWORD needed = 0;
  if (EnumPrinterDriversW(nullptr, (LPWSTR)environment, 6, nullptr, 0, &needed, &list.Count) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    list.Count = 0;
    return list;
  }
  BYTE *block = (BYTE *)GlobalAlloc(GMEM_FIXED, needed);
  if (block == nullptr) {
    SetLastError((DWORD)E_OUTOFMEMORY);
    list.Count = 0;
    return list;
  }
  std::memset(block, 0, needed);
  list.Entries = block;
  if (!EnumPrinterDriversW(nullptr, (LPWSTR)environment, 6, block, needed, &needed, &list.Count)) {
    DWORD error = GetLastError();
    GlobalFree(block);
    list.Entries = nullptr;
    list.Count = 0;
    SetLastError(error);
  }
  return list;
}

LONG FindProductMonitor(const MonitorList *list) {
  return FindByName(list->Entries, list->Count, list->Level, PRODUCT_MONITOR_NAME, MonitorLayout);
}

LONG FindProductDriver(const DriverList *list) {
  return FindByName(list->Entries, list->Count, list->Level, PRODUCT_DRIVER_NAME, DriverLayout);
}

void LogMonitorList(InstallContext *ctx, const MonitorList *list) {
  WriteLog(ctx, W("------- %d existing monitors ----------"), list->Count);
  const MONITOR_INFO_2W *records = (const MONITOR_INFO_2W *)list->Entries;
  for (DWORD i = 0; records != nullptr && i < list->Count; ++i) {
    LPCWSTR name = records[i].pName;
    WriteLog(ctx, W("%d. %s"), i + 1, name != nullptr ? name : W("***EMPTY***"));
  }
  WriteLog(ctx, W("---------------------------------------"));
}
