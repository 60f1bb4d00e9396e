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
#include "sys/locked_files.h"     // ScheduleDeleteAtRestart
#include "sys/pending_renames.h"  // CheckPendingComponentFiles

// Install sequence: removes what is installed and installs everything again.
void ReInstall(InstallContext *ctx);

// Uninstall sequence with the sweep of pending deletions and a last retry.
void CompleteUnInstall(InstallContext *ctx);

// "onChkDrv": does the first printer of the product use a driver file of a
// build above 2450?
BOOL CheckDriverBuild(void);

