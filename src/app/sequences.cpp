#include "app/sequences.h"

#include "app/log.h"
#include "common/counted_string.h"
#include "companion/tray_program.h"
#include "spool/driver.h"
#include "spool/monitor.h"
#include "spool/printers.h"
#include "spool/spooler_lists.h"
#include "sys/locked_files.h"
#include "sys/pending_renames.h"
#include "sys/spooler_restart.h"

namespace {

// Carries out the pending deletions the system holds for the next restart.
void SweepSystemPendingDeletes() {
  PendingRenameList pending = ReadPendingRenames();
  SweepPendingDeletes(&pending);
  FreePendingRenames(&pending);
}

// Stops the tray program. An install run (VerifyMonitorVersion is set only by
// ReInstall) keeps the file it starts again at its end; otherwise a repair
// while the tray program runs from that very file would delete it and end
// without a tray program.
void StopTrayForRun(InstallContext *ctx) {
  CountedString keep = nullptr;
  if (ctx->VerifyMonitorVersion && TrayProgramPath(ctx->ModuleDir, &keep))
    StopTrayProgramKeeping(CountedStringText(keep));
  else
    StopTrayProgram();
  FreeCountedString(&keep);
}

// An uninstall whose monitor file stayed locked handed it to the system for
// deletion at restart. The install keeps that file (a compatible build) or
// places it again: neither the pending-deletion sweep of this run nor the
// restart may delete it. Called before the sweep: a kept file that the sweep
// deleted would leave AddMonitor nothing to register.
void KeepPlacedMonitorFile(InstallContext *ctx) {
  CountedString path = nullptr;
  if (CountedStringLength(ctx->SystemDir) == 0) return;
  if (AssignCountedString(&path, CountedStringText(ctx->SystemDir)) &&
      AppendCountedString(&path, ctx->MonitorFile) && WithdrawPendingDeletes(CountedStringText(path)) > 0)
    WriteLog(ctx, W("Pending deletion withdrawn: %s"), CountedStringText(path));
  FreeCountedString(&path);
}

// Tries the locked files once more, and when some are still locked, again
// with the spooler stopped. Whatever remains stays in ctx->LockedFiles.
void RetryLockedFiles(InstallContext *ctx) {
  if (ctx->LockedFiles == nullptr) return;
  DeleteFileTry(ctx);
  if (ctx->LockedFiles == nullptr) return;
  SpoolerRestart restart;
  RestartSpooler(&restart, ctx);
  DeleteFileTry(ctx);
  FinishSpoolerRestart(&restart);
}

}  // namespace

void UnInstall(InstallContext *ctx) {
  WriteLog(ctx, W(">UnInstall"));
  ctx->IndentLevel += 1;

  StopTrayForRun(ctx);

  // Both lists are taken before anything is deleted.
  WriteLog(ctx, W("EnumMonitors"));
  MonitorList monitors = ListMonitors(ctx);
  WriteLog(ctx, W("%d Monitors found."), static_cast<int>(monitors.Count));

  WriteLog(ctx, W("EnumPrinterDrivers for %s"), ctx->Environment);
  DriverList drivers = ListDrivers(ctx->Environment);
  WriteLog(ctx, W("%d drivers found"), static_cast<int>(drivers.Count));

  DeleteAllPrinters(ctx);
  DeletePrinterDriver(ctx, &drivers);
  DeleteMonitor(ctx, &monitors);

  if (ctx->LockedFiles != nullptr) DeleteFileTry(ctx);

  if (drivers.Entries != nullptr) GlobalFree(drivers.Entries);
  if (monitors.Entries != nullptr) GlobalFree(monitors.Entries);
  ctx->IndentLevel -= 1;
}

void CompleteUnInstall(InstallContext *ctx) {
  UnInstall(ctx);
  SweepSystemPendingDeletes();
  RetryLockedFiles(ctx);
}

void ReInstall(InstallContext *ctx) {
  WriteLog(ctx, W(">ReInstall"));
  ctx->IndentLevel += 2;

  ctx->VerifyMonitorVersion = 1;
  UnInstall(ctx);

  if (ctx->LockedFiles != nullptr) {
    // What is still locked with the spooler stopped is dropped: the install
    // places those files again.
    SpoolerRestart restart;
    RestartSpooler(&restart, ctx);
    DeleteFileTry(ctx);
    ClearLockedFileList(&ctx->LockedFiles);
    FinishSpoolerRestart(&restart);
  }

  KeepPlacedMonitorFile(ctx);
  SweepSystemPendingDeletes();

  if (ctx->InstallMonitor) AddMonitor(ctx);
  AddPrinterDriver(ctx);
  RecreatePrinters(ctx);
  StartTrayProgram(ctx);

  RetryLockedFiles(ctx);

  ctx->IndentLevel -= 2;
}
