#include "spool/driver.h"

#include "app/error_codes.h"
#include "app/log.h"
#include "common/counted_string.h"
#include "common/product.h"
#include "spool/spooler_calls.h"
#include "sys/file_copy.h"
#include "sys/locked_files.h"
#include "sys/spooler_restart.h"

void AddPrinterDriver(InstallContext *ctx) {
  WCHAR driverPath[MAX_PATH] = {};
  WCHAR configPath[MAX_PATH] = {};
  WCHAR helpPath[MAX_PATH] = {};
  DRIVER_INFO_6W info = {};
  LPCWSTR driverDir = CountedStringText(ctx->DriverDir);

  WriteLog(ctx, W(">Add Printer Driver"));
  ctx->IndentLevel += 1;

  if (CopyFile(ctx, driverDir, ctx->DriverFile, driverPath, TRUE) != S_OK) goto done;
  // Without the configuration module there is nothing to register; the
  // driver file placed above stays in the driver directory.
  if (CopyFile(ctx, driverDir, ctx->UiFile, configPath, TRUE) != S_OK) goto done;
  if (CopyFile(ctx, driverDir, ctx->HelpFile, helpPath, TRUE) != S_OK) helpPath[0] = 0;

  info.cVersion = 3;
  info.pName = const_cast<LPWSTR>(PRODUCT_DRIVER_NAME);
  info.pEnvironment = const_cast<LPWSTR>(ctx->Environment);
  info.pDriverPath = driverPath;
  info.pDataFile = driverPath;
  info.pConfigFile = configPath;
  info.pHelpFile = helpPath;
  info.pszMfgName = const_cast<LPWSTR>(DRIVER_MAKER);
  info.pszOEMUrl = const_cast<LPWSTR>(DRIVER_MAKER_URL);
  info.pszProvider = const_cast<LPWSTR>(DRIVER_MAKER);
  if (AddPrinterDriverChecked(&info))
    WriteLog(ctx, W("OK :)"));
  else
    LogError(ctx, ErrInstallDriver, MsgInstallDriver);

  // The spooler keeps its own copies; the ones placed here go, now or later.
  DeleteOrRemember(ctx, driverPath);
  DeleteOrRemember(ctx, configPath);
  DeleteOrRemember(ctx, helpPath);

done:
  ctx->IndentLevel -= 1;
}

void DeletePrinterDriver(InstallContext *ctx, const DriverList *drivers) {
  WriteLog(ctx, W(">DeletePrinterDriver for %s"), ctx->Environment);
  ctx->IndentLevel += 1;

  if (drivers->Count > 0) {
    WriteLog(ctx, W("------------ %d existing drivers-----------"), static_cast<int>(drivers->Count));
    const DRIVER_INFO_6W *records = reinterpret_cast<const DRIVER_INFO_6W *>(drivers->Entries);
    for (DWORD i = 0; i < drivers->Count; ++i) {
      LPCWSTR name = records[i].pName;
      WriteLog(ctx, W("%d. %s"), static_cast<int>(i + 1), name != nullptr ? name : W("***EMPTY***"));
    }
    WriteLog(ctx, W("-------------------------------------------"));
  } else {
    WriteLog(ctx, W("BTW, there is no printer drivers on this system."));
  }

  LONG index = FindProductDriver(drivers);
  DriverList again = {nullptr, 6, 0};
  if (index < 0 && drivers->Count == 0) {
    // An empty list may be an enumeration that failed (no memory, the
    // spooler busy): the driver would stay behind unnoticed. Look once more.
    again = ListDrivers(ctx->Environment);
    index = FindProductDriver(&again);
  }
  if (index < 0) {
    WriteLog(ctx, W("No Morvalente driver was found"));
  } else {
    WriteLog(ctx, W("Driver is found. Index=%d"), static_cast<int>(index + 1));
    LPWSTR environment = const_cast<LPWSTR>(ctx->Environment);
    LPWSTR name = const_cast<LPWSTR>(PRODUCT_DRIVER_NAME);
    if (DeletePrinterDriverExW(nullptr, environment, name, DPD_DELETE_ALL_FILES, 0)) {
      WriteLog(ctx, W("OK :)"));
    } else {
      WriteLog(ctx, W("Can't delete driver. Trying to restart spooler"));
      {
        SpoolerRestart restart;
        RestartSpooler(&restart, ctx);
        FinishSpoolerRestart(&restart);
      }
      if (DeletePrinterDriverExW(nullptr, environment, name, DPD_DELETE_ALL_FILES, 0))
        WriteLog(ctx, W("OK :)"));
      else
        LogError(ctx, ErrRemoveDriver, MsgRemoveDriver);
    }
  }
  if (again.Entries != nullptr) GlobalFree(again.Entries);
  ctx->IndentLevel -= 1;
}
