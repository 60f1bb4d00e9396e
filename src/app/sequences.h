// The uninstall and install sequences: the fixed order in which a run
// removes and installs the product's components. No step stops a sequence;
// every failure is an error line in the run log.
#pragma once

#include "app/context.h"

// Stops and unregisters the tray program, lists the monitors and the
// environment's drivers, deletes the product's printers (remembering them),
// its driver and its monitor, and retries locked files once. Within an
// install run (ctx->VerifyMonitorVersion set) the tray program's file, which
// the run starts again, is not deleted.
void UnInstall(InstallContext *ctx);

// The uninstall command's sequence: UnInstall, the sweep of the system's
// pending deletions, and up to two more retries of locked files, the last one
// with the spooler stopped. What stays locked is left in ctx->LockedFiles.
void CompleteUnInstall(InstallContext *ctx);

// The install sequence (always a repair): UnInstall with the monitor's build
// checked, a retry of locked files with the spooler stopped (what is still
// locked then is dropped: the install places those files again), the
// withdrawal of a pending deletion of the monitor file and the sweep of
// pending deletions, then the monitor (unless a compatible one was kept), the
// driver, the printers and the tray program; locked files are retried at the
// end and what stays locked is left in ctx->LockedFiles.
void ReInstall(InstallContext *ctx);
