// The run log's error codes with their message formats. Each code has one
// message; LogError(ctx, Err..., Msg..., arguments) writes the line.
#pragma once

#include "platform/win32.h"

enum LogErrorCode {
  ErrOpenServiceManager = 1,
  ErrOpenSpooler = 2,
  ErrStopSpooler = 3,
  ErrStartSpooler = 4,
  ErrControlService = 5,
  ErrDriverDirectory = 6,
  ErrSystemDirectory = 7,
  ErrCopyFile = 8,
  ErrOpenDestination = 9,
  ErrOpenSource = 10,
  ErrInstallMonitor = 11,
  ErrRemoveMonitor = 12,
  ErrInstallDriver = 13,
  ErrRemoveDriver = 14,
  ErrAddPrinter = 15,
  ErrOpenPrinter = 16,
  ErrDeletePrinter = 17,
};

#define MsgOpenServiceManager W("Can't open service manager.")
#define MsgOpenSpooler W("Can't open the spooler")
#define MsgStopSpooler W("Can't stop the spooler")
#define MsgStartSpooler W("Can't start the spooler")
#define MsgControlService W("ControlService failed with code %d (0x%x)")  // the code twice
#define MsgDriverDirectory W("Can`t retrieve printer driver directory.")
#define MsgSystemDirectory W("Can`t retrieve system directory.")
#define MsgCopyFile W("CopyFile(..,%s)")
#define MsgOpenDestination W("Cant't open destination file: %s")
#define MsgOpenSource W("Cant't open source file: %s")
#define MsgInstallMonitor W("Can`t install a local port monitor'Morvalente:'")
#define MsgRemoveMonitor W("Can`t remove the port monitor 'Morvalente:'")
#define MsgInstallDriver W("Can`t install a printer driver 'Morvalente printer'")
#define MsgRemoveDriver W("Can`t remove the printer-driver 'Morvalente printer'")
#define MsgAddPrinter W("Can`t add printer '%s'")
#define MsgOpenPrinter W("Can`t open printer '%s'")
#define MsgDeletePrinter W("Can`t delete printer '%s'")

// The message format of a code, or null for a code outside the table.
LPCWSTR ErrorMessageFormat(int code);
