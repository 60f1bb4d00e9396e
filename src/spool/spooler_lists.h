// The spooler's port monitors and the printer drivers of one environment, as
// lists read in place from the spooler's own buffer, and the finders that
// look for the product's monitor and driver in them.
#pragma once

#include "app/context.h"
#include "platform/win32.h"

// The port monitors of the machine at information level 2.
struct MonitorList {
  BYTE *Entries;  // GlobalAlloc block: Count records of level Level, then their texts; null when empty
  DWORD Level;    // always 2 (MONITOR_INFO_2W)
  DWORD Count;    // number of records; 0 whenever Entries is null
};

// The printer drivers of one environment at information level 6.
struct DriverList {
  BYTE *Entries;  // GlobalAlloc block: Count records of level Level, then their texts; null when empty
  DWORD Level;    // always 6 (DRIVER_INFO_6W)
  DWORD Count;    // number of records; 0 whenever Entries is null
};

// Lists the machine's port monitors at level 2. Every outcome other than a
// full list writes one line to the run log (none when ctx is null). A failed
// enumeration gives an empty list; running out of memory also leaves the last
// error at E_OUTOFMEMORY. The caller releases Entries with GlobalFree.
MonitorList ListMonitors(InstallContext *ctx);

// Lists the printer drivers of `environment` at level 6; logs nothing. A
// failed enumeration gives an empty list. The caller releases Entries with
// GlobalFree.
DriverList ListDrivers(LPCWSTR environment);

// Index of the first record named exactly "Morvalente:" (levels 1 and 2), or
// -1 when there is none or the list is of another level.
LONG FindProductMonitor(const MonitorList *list);

// Index of the first record named exactly "Morvalente printer" (levels 1 to
// 6), or -1 when there is none or the list is of another level.
LONG FindProductDriver(const DriverList *list);

// Writes the monitors to the run log: a header with the count, one numbered
// line per record ("***EMPTY***" for a record without a name), a closing line.
// Records are read as MONITOR_INFO_2W.
void LogMonitorList(InstallContext *ctx, const MonitorList *list);
