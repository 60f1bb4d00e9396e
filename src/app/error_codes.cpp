#include "app/error_codes.h"

LPCWSTR ErrorMessageFormat(int code) {
  switch (code) {
    case ErrOpenServiceManager:
      return MsgOpenServiceManager;
    case ErrOpenSpooler:
      return MsgOpenSpooler;
    case ErrStopSpooler:
      return MsgStopSpooler;
    case ErrStartSpooler:
      return MsgStartSpooler;
    case ErrControlService:
      return MsgControlService;
    case ErrDriverDirectory:
      return MsgDriverDirectory;
    case ErrSystemDirectory:
      return MsgSystemDirectory;
    case ErrCopyFile:
      return MsgCopyFile;
    case ErrOpenDestination:
      return MsgOpenDestination;
    case ErrOpenSource:
      return MsgOpenSource;
    case ErrInstallMonitor:
      return MsgInstallMonitor;
    case ErrRemoveMonitor:
      return MsgRemoveMonitor;
    case ErrInstallDriver:
      return MsgInstallDriver;
    case ErrRemoveDriver:
      return MsgRemoveDriver;
    case ErrAddPrinter:
      return MsgAddPrinter;
    case ErrOpenPrinter:
      return MsgOpenPrinter;
    case ErrDeletePrinter:
      return MsgDeletePrinter;
    default:
      return nullptr;
  }
}
