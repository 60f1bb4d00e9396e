// The product's port monitor "Morvalente:": removing it (with the build
// check that keeps a compatible one, and the parking of printers on "file:"
// while the spooler refuses), and installing it again (copying its file,
// registering it, giving parked printers their port back).
#pragma once

#include "app/context.h"
#include "spool/spooler_lists.h"

// Accepted builds of an installed monitor file: kept by an install.
const LONG CompatibleMonitorBuildLow = 2451;
const LONG CompatibleMonitorBuildHigh = 2563;
// Registration attempts and the pause between them.
const int AddMonitorTries = 5;
const DWORD AddMonitorRetryPauseMs = 50;

// Removes the product's monitor found in `monitors` (the list taken at the
// start of the uninstall): logs the list, works out the monitor's file
// (system directory plus the record's DLL name, or MonitorFile), keeps a
// compatible build when ctx->VerifyMonitorVersion is set (clearing
// InstallMonitor or CopyMonitor), otherwise removes the monitor in up to
// three tries (parking printers on "file:" after the first refusal, restarting
// the spooler before the third) and deletes or remembers its file. Error 12
// when the third try fails. The file is only ever the system directory's: a
// record's DLL name with a directory part counts as none, and without the
// system directory (or memory to name the file) nothing is deleted (error 12
// when the monitor was removed all the same, but its file stays).
void DeleteMonitor(InstallContext *ctx, const MonitorList *monitors);

// Moves every printer of ctx->Printers whose port names "Morvalente:" to
// "file:" (rewriting the record in place and through SetPrinterW), and
// records them in ctx->RedirectedPrinters (replacing an earlier array).
void RedirectPrinters(InstallContext *ctx);

// Copies the monitor file into the system directory unless CopyMonitor is
// clear (a second try around a spooler restart), registers the monitor in up
// to five tries 50 ms apart (error 11 when all fail) and gives the printers
// parked by DeleteMonitor their port back.
void AddMonitor(InstallContext *ctx);
