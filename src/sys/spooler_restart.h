// Stopping the print spooler service and starting it again around a retry.
//
// A restart is one SpoolerRestart record in the caller's frame:
//
//   {
//     SpoolerRestart restart;
//     RestartSpooler(&restart, ctx);  // stops the service and waits
//     ... work while it is stopped, or nothing ...
//   }                                 // started again here
//
// The end of the record's scope runs FinishSpoolerRestart on every path out
// of it; calling FinishSpoolerRestart earlier is allowed and makes the end of
// the scope do nothing. Both halves write their lines to the context's run
// log, and nothing at all without a context.
#pragma once

#include "platform/win32.h"

struct InstallContext;

struct SpoolerRestart {
  InstallContext *Context = nullptr;  // receives the lines of both halves, or none; not owned
  SC_HANDLE Manager = nullptr;        // the local service manager, or none; owned
  SC_HANDLE Service = nullptr;        // the "spooler" service, or none; owned
  BYTE StopRequested = 0;             // the stop request has been sent
  SERVICE_STATUS Status = {};         // written by the stop request and the queries
  BYTE FinishPending = 0;             // RestartSpooler ran and FinishSpoolerRestart has not

  SpoolerRestart() = default;
  SpoolerRestart(const SpoolerRestart &) = delete;
  SpoolerRestart &operator=(const SpoolerRestart &) = delete;
  ~SpoolerRestart();
};

// Writes ">Restart Spooler", opens the service manager and the spooler,
// asks the service to stop and waits until it has stopped (at most 50 polls
// 200 ms apart). Failures are error lines 1, 2, 3 and 5; the caller cannot
// tell whether the service stopped, and proceeds in every case.
void RestartSpooler(SpoolerRestart *restart, InstallContext *ctx);

// Starts the service again when a stop was requested (error line 4 when it
// does not come up), then closes the service and manager handles. Runs once
// per RestartSpooler; a second call does nothing.
void FinishSpoolerRestart(SpoolerRestart *restart);
