// Operations the dispatcher calls that other parts of the installer provide.
// Until each part lands, pending_operations.cpp holds a placeholder for it
// that does nothing and gives the "no" answer; the declaration moves to the
// part's own header when its implementation replaces the placeholder.
#pragma once

#include "app/context.h"
#include "app/log_dialog.h"
#include "companion/help_viewer.h"
#include "companion/tray_program.h"
#include "platform/win32.h"
#include "spool/default_printer.h"

// Install sequence: removes what is installed and installs everything again.
void ReInstall(InstallContext *ctx);

// Uninstall sequence with the sweep of pending deletions and a last retry.
void CompleteUnInstall(InstallContext *ctx);

// Hands the context's locked files to the system for deletion at restart and
// empties the list; returns the number of paths the system accepted.
DWORD ScheduleDeleteAtRestart(InstallContext *ctx);

// "onChkDrv": does the first printer of the product use a driver file of a
// build above 2450?
BOOL CheckDriverBuild(void);

// "onInit", first half: are operations pending on the product's files?
BOOL CheckPendingComponentFiles(void);
