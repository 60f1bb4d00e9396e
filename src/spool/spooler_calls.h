// Single spooler queries and calls on behalf of the installer's operations:
// a printer's level-2 record and its driver's level-2 record in blocks of
// their own, and thin wrappers that make one spooler call and hand back its
// result with the last error left as the call set it. None of them logs.
#pragma once

#include "platform/win32.h"

// After a failed call: fetches the system's text for the last error and
// drops it again. The last error stays what the call left, for the caller
// to report.
void TouchErrorText(void);

// The open printer's PRINTER_INFO_2W at the start of a zero-filled
// GlobalAlloc block that also holds its texts, or null when it cannot be
// read (the last error then tells why; E_OUTOFMEMORY when no block could be
// had). The caller releases the block with GlobalFree.
PRINTER_INFO_2W *FetchPrinterInfo(HANDLE printer);

// The DRIVER_INFO_2W of the open printer's driver in the "Windows x64"
// environment, in a block as FetchPrinterInfo gives it, or null. The caller
// releases the block with GlobalFree.
DRIVER_INFO_2W *FetchPrinterDriverInfo(HANDLE printer);

// ClosePrinter on the handle; its result.
BOOL ClosePrinterChecked(HANDLE printer);

// Adds a printer on the local machine from a filled level-2 record; the new
// printer's handle (the caller closes it with ClosePrinter), or null.
HANDLE AddPrinterChecked(PRINTER_INFO_2W *info);

// Purges the printer's jobs (the outcome is not looked at), then deletes the
// printer; the result of the deletion.
BOOL PurgeAndDeletePrinter(HANDLE printer);

// Registers a driver from a filled level-6 record, letting the spooler copy
// all its files; the result of AddPrinterDriverExW.
BOOL AddPrinterDriverChecked(DRIVER_INFO_6W *info);

// Removes the monitor "Morvalente:" of `environment`; the result of
// DeleteMonitorW.
BOOL DeleteMonitorChecked(LPCWSTR environment);
