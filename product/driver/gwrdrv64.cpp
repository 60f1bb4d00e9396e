// gwrdrv64.dll: the printer driver "Morvalente printer" (driver and data file).
//
// A version-3 driver runs in user mode; the spooler asks the driver file
// whether it does through DrvQueryDriverInfo before it accepts the driver.
// Rendering belongs to the product's print path and is not part of this file:
// DrvEnableDriver declines, so a device context on the driver cannot be made,
// while installing, listing and removing the driver and its printers work.
#include <windows.h>

// The driver interface's own declarations are not needed beyond these: the
// query code for "runs in user mode" and the engine's enable record, which
// this driver never fills.
namespace {
const DWORD kQueryUserMode = 1;  // DRVQUERY_USERMODE
}
struct DRVENABLEDATA;

extern "C" {

// Answers DRVQUERY_USERMODE with TRUE; any other query is not supported.
BOOL APIENTRY DrvQueryDriverInfo(DWORD dwMode, PVOID pBuffer, DWORD cbBuf, PDWORD pcbNeeded) {
  if (dwMode != kQueryUserMode) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (pcbNeeded) *pcbNeeded = sizeof(DWORD);
  if (!pBuffer || cbBuf < sizeof(DWORD)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  *(DWORD *)pBuffer = TRUE;
  return TRUE;
}

// No rendering functions: the engine is told the driver cannot be enabled.
BOOL APIENTRY DrvEnableDriver(ULONG iEngineVersion, ULONG cj, DRVENABLEDATA *pded) {
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}

VOID APIENTRY DrvDisableDriver(VOID) {}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

}  // extern "C"
