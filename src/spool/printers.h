// The product's printers across a run: remembered (with their settings name,
// the printer data "SubKey") and deleted by the uninstall, re-created by the
// install with their name, settings name, comment, location and default
// status, or one printer "Morvalente" when none could be re-created.
#pragma once

#include "app/context.h"
#include "platform/win32.h"

// Bytes of a settings name read from printer data, its terminator included.
const DWORD SettingsNameBytes = 64;

// Remembers and deletes every printer of the context's Printers whose driver
// is "Morvalente printer". Logs ">DeleteAllPrinters" and the lines of
// DeletePrinter. A printer whose settings could not be read or remembered
// is kept (the line "Printer %s is kept: its settings could not be read"):
// the install could not bring it back; the driver it still uses then cannot
// be removed, which the run reports.
void DeleteAllPrinters(InstallContext *ctx);

// Pushes a SavedPrinter node for the record in front of ctx->SavedPrinters
// when the printer carries a settings name. Writes nothing. Returns TRUE when
// the printer was remembered or has no settings name; FALSE when it cannot
// be opened, when the spooler fails to say whether it has a settings name,
// or when its settings name cannot be remembered for lack of memory.
BOOL SavePrinterSettings(InstallContext *ctx, PRINTER_INFO_2W *record);

// Deletes the named printer (null: none named) with its jobs; logs
// ">DeletePrinter(%s)" and "OK", or error 16 or 17.
void DeletePrinter(InstallContext *ctx, LPCWSTR name);

// Adds a printer of the product with the given name on the port
// "Morvalente:", logging ">AddPrinter(%s)", what it finds of the port
// monitor, and "OK :)" or error 15. Returns the new printer's handle (the
// caller closes it with ClosePrinter), or null.
HANDLE AddPrinter(InstallContext *ctx, LPCWSTR name);

// Re-creates the remembered printers from the head of ctx->SavedPrinters to
// its end, or the one printer "Morvalente" when none could be added.
void RecreatePrinters(InstallContext *ctx);

// Stores the settings name as printer data "SubKey" (type REG_SZ, with its
// terminator), plain and under the key "DsUser". TRUE when the copy under
// "DsUser" was written.
BOOL WriteSubKey(HANDLE printer, LPCSTR settingsName);

// Reads the printer's settings name into `buffer`, of which
// SettingsNameBytes bytes are offered to the spooler: the plain "SubKey"
// when it is a REG_SZ that fits with its end (a value of 64 bytes without a
// zero is a name of 64 characters: too long), else the one under "DsUser",
// else the empty text. The caller's buffer must be zero-filled and hold at least one byte
// more than is offered, so that a value stored without its terminator still
// ends in a zero.
void ReadSubKey(HANDLE printer, LPSTR buffer);

// Deletes the value "deleted" of the key HKEY_CURRENT_USER
// "Software\Garrowe Software KFT\Morvalente\<path>". TRUE when it was deleted.
BOOL ClearDeletedMark(LPCSTR path);
