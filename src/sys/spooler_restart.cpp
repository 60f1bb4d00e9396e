#include "sys/spooler_restart.h"

#include "app/context.h"
#include "app/error_codes.h"
#include "app/log.h"

namespace {

const DWORD ManagerAccess = STANDARD_RIGHTS_REQUIRED | SC_MANAGER_CONNECT;        // 0xF0001
const DWORD SpoolerAccess = SERVICE_QUERY_STATUS | SERVICE_START | SERVICE_STOP;  // 0x34
const int StopPolls = 50;
const DWORD StopPollMs = 200;

}  // namespace

SpoolerRestart::~SpoolerRestart() {
  FinishSpoolerRestart(this);
}

void RestartSpooler(SpoolerRestart *restart, InstallContext *ctx) {
  // A record that was used before is finished first, so no handle is lost.
  FinishSpoolerRestart(restart);
  WriteLog(ctx, W(">Restart Spooler"));
  restart->Context = ctx;
  restart->Service = nullptr;
  restart->StopRequested = 0;
  restart->Status = SERVICE_STATUS{};
  restart->FinishPending = 1;

  restart->Manager = OpenSCManagerW(nullptr, nullptr, ManagerAccess);
  if (restart->Manager == nullptr) {
    LogError(ctx, ErrOpenServiceManager, MsgOpenServiceManager);
    return;
  }
  restart->Service = OpenServiceW(restart->Manager, W("spooler"), SpoolerAccess);
  if (restart->Service == nullptr) {
    LogError(ctx, ErrOpenSpooler, MsgOpenSpooler);
    return;
  }
  if (!ControlService(restart->Service, SERVICE_CONTROL_STOP, &restart->Status)) {
    DWORD code = GetLastError();
    if (code != ERROR_SERVICE_NOT_ACTIVE) LogError(ctx, ErrControlService, MsgControlService, code, code);
  }
  restart->StopRequested = 1;

  // The state tested is the one last written into the record, whether or
  // not the query that wrote it succeeded.
  QueryServiceStatus(restart->Service, &restart->Status);
  for (int i = 0; i < StopPolls; ++i) {
    if (restart->Status.dwCurrentState == SERVICE_STOPPED) return;
    Sleep(StopPollMs);
    QueryServiceStatus(restart->Service, &restart->Status);
  }
  if (restart->Status.dwCurrentState != SERVICE_STOPPED) LogError(ctx, ErrStopSpooler, MsgStopSpooler);
}

void FinishSpoolerRestart(SpoolerRestart *restart) {
  if (!restart->FinishPending) return;
  restart->FinishPending = 0;
  if (restart->Service != nullptr) {
    if (restart->StopRequested && !StartSpoolerAndWait(restart->Service)) {
      LogError(restart->Context, ErrStartSpooler, MsgStartSpooler);
    }
    CloseServiceHandle(restart->Service);
    restart->Service = nullptr;
  }
  // Also when the manager could not be opened: the system refuses the null
  // handle and nothing follows from that.
  CloseServiceHandle(restart->Manager);
  restart->Manager = nullptr;
  restart->StopRequested = 0;
}
