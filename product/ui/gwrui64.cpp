// gwrui64.dll: the configuration module of the driver "Morvalente printer".
//
// The spooler and the applications' print dialogs call this module for the
// driver's settings: its default DEVMODEW, the device capabilities, and the
// events of the driver's and its printers' life. The device offers A4 and
// Letter paper, portrait and landscape, colour or monochrome, 600 dpi and 1 to
// 999 copies, with no private part in its DEVMODEW. There are no property
// pages of its own.
#include <stddef.h>
#include <windows.h>
#include <winspool.h>

// Records of the driver interface that the SDK headers here lack, laid out as
// documented.
struct DOCUMENTPROPERTYHEADER {
  WORD cbSize;
  WORD Reserved;
  HANDLE hPrinter;
  LPWSTR pszPrinterName;
  PDEVMODEW pdmIn;
  PDEVMODEW pdmOut;
  DWORD cbOut;
  DWORD fMode;
};

struct DEVQUERYPRINT_INFO {
  WORD cbSize;
  WORD Level;
  HANDLE hPrinter;
  DEVMODEW *pDevMode;
  LPWSTR pszErrorStr;
  DWORD cchErrorStr;
  DWORD cchNeeded;
};

struct PROPSHEETUI_INFO {
  WORD cbSize;
  WORD Version;
  WORD Flags;
  WORD Reason;
  HANDLE hComPropSheet;
  void *pfnComPropSheet;
  LPARAM lParamInit;
  ULONG_PTR UserData;
  ULONG_PTR Result;
};

namespace {

const WCHAR kDriverName[] = L"Morvalente printer";
const WORD kDriverVersion = 0x0100;

// DrvConvertDevMode modes.
const DWORD kConvert = 1;        // CDM_CONVERT
const DWORD kConvert351 = 2;     // CDM_CONVERT351
const DWORD kDriverDefault = 4;  // CDM_DRIVER_DEFAULT

// Property sheet reasons and results.
const WORD kReasonInit = 0;           // PROPSHEETUI_REASON_INIT
const WORD kReasonGetInfoHeader = 1;  // PROPSHEETUI_REASON_GET_INFO_HEADER
const LONG kSheetOk = 1;              // CPSUI_OK
const LONG kSheetLastError = -1;      // ERR_CPSUI_GETLASTERROR

struct Paper {
  WORD id;
  const WCHAR *name;
  LONG width;   // tenths of a millimetre
  LONG height;  // tenths of a millimetre
};

const Paper kPapers[] = {
    {DMPAPER_A4, L"A4", 2100, 2970},
    {DMPAPER_LETTER, L"Letter", 2159, 2794},
};
const DWORD kPaperCount = sizeof(kPapers) / sizeof(kPapers[0]);
const LONG kResolution = 600;
const WORD kMaxCopies = 999;

const DWORD kFields = DM_ORIENTATION | DM_PAPERSIZE | DM_COPIES | DM_PRINTQUALITY | DM_COLOR | DM_YRESOLUTION;

// Fills dm with the driver's defaults for the named printer (or the driver's
// own name when none is given).
void DefaultDevMode(const WCHAR *printer, DEVMODEW *dm) {
  ZeroMemory(dm, sizeof(*dm));
  const WCHAR *name = printer && printer[0] ? printer : kDriverName;
  int i = 0;
  for (; name[i] && i < CCHDEVICENAME - 1; ++i) dm->dmDeviceName[i] = name[i];
  dm->dmDeviceName[i] = 0;
  dm->dmSpecVersion = DM_SPECVERSION;
  dm->dmDriverVersion = kDriverVersion;
  dm->dmSize = sizeof(DEVMODEW);
  dm->dmDriverExtra = 0;
  dm->dmFields = kFields;
  dm->dmOrientation = DMORIENT_PORTRAIT;
  dm->dmPaperSize = DMPAPER_A4;
  dm->dmCopies = 1;
  dm->dmPrintQuality = (short)kResolution;
  dm->dmYResolution = (short)kResolution;
  dm->dmColor = DMCOLOR_COLOR;
}

// True when in (of in->dmSize bytes) covers the member at offset and size.
bool Covers(const DEVMODEW *in, size_t offset, size_t size) {
  return in->dmSize >= offset + size;
}

// Takes over the settings of in that this device supports; everything else
// keeps the value dm already has.
void MergeDevMode(const DEVMODEW *in, DEVMODEW *dm) {
  if (!in || in->dmSize < offsetof(DEVMODEW, dmFields) + sizeof(in->dmFields)) return;
  DWORD f = in->dmFields;
  if ((f & DM_ORIENTATION) && Covers(in, offsetof(DEVMODEW, dmOrientation), sizeof(short)) &&
      (in->dmOrientation == DMORIENT_PORTRAIT || in->dmOrientation == DMORIENT_LANDSCAPE))
    dm->dmOrientation = in->dmOrientation;
  if ((f & DM_PAPERSIZE) && Covers(in, offsetof(DEVMODEW, dmPaperSize), sizeof(short))) {
    for (DWORD i = 0; i < kPaperCount; ++i)
      if (in->dmPaperSize == (short)kPapers[i].id) dm->dmPaperSize = in->dmPaperSize;
  }
  if ((f & DM_COPIES) && Covers(in, offsetof(DEVMODEW, dmCopies), sizeof(short)) && in->dmCopies >= 1 &&
      in->dmCopies <= (short)kMaxCopies)
    dm->dmCopies = in->dmCopies;
  if ((f & DM_COLOR) && Covers(in, offsetof(DEVMODEW, dmColor), sizeof(short)) &&
      (in->dmColor == DMCOLOR_COLOR || in->dmColor == DMCOLOR_MONOCHROME))
    dm->dmColor = in->dmColor;
}

// Builds the DEVMODEW for printer from the defaults and in, into out of
// out_size bytes. Fails with ERROR_INSUFFICIENT_BUFFER when it does not fit.
BOOL ProduceDevMode(const WCHAR *printer, const DEVMODEW *in, DEVMODEW *out, DWORD out_size) {
  if (!out || out_size < sizeof(DEVMODEW)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DEVMODEW dm;
  DefaultDevMode(printer, &dm);
  MergeDevMode(in, &dm);
  CopyMemory(out, &dm, sizeof(dm));
  return TRUE;
}

DWORD Capabilities(WORD capability, PVOID output) {
  switch (capability) {
    case DC_FIELDS:
      return kFields;
    case DC_PAPERS:
      if (output)
        for (DWORD i = 0; i < kPaperCount; ++i) ((WORD *)output)[i] = kPapers[i].id;
      return kPaperCount;
    case DC_PAPERNAMES:
      if (output) {
        WCHAR *names = (WCHAR *)output;  // 64 characters per name
        for (DWORD i = 0; i < kPaperCount; ++i) {
          ZeroMemory(names + 64 * i, 64 * sizeof(WCHAR));
          lstrcpynW(names + 64 * i, kPapers[i].name, 64);
        }
      }
      return kPaperCount;
    case DC_PAPERSIZE:
      if (output)
        for (DWORD i = 0; i < kPaperCount; ++i) {
          ((POINT *)output)[i].x = kPapers[i].width;
          ((POINT *)output)[i].y = kPapers[i].height;
        }
      return kPaperCount;
    case DC_ENUMRESOLUTIONS:
      if (output) {
        ((LONG *)output)[0] = kResolution;
        ((LONG *)output)[1] = kResolution;
      }
      return 1;
    case DC_BINS:
    case DC_BINNAMES:
    case DC_DUPLEX:
    case DC_EXTRA:
    case DC_COLLATE:
    case DC_TRUETYPE:
      return 0;
    case DC_SIZE:
      return sizeof(DEVMODEW);
    case DC_VERSION:
      return DM_SPECVERSION;
    case DC_DRIVER:
      return kDriverVersion;
    case DC_COPIES:
      return kMaxCopies;
    case DC_ORIENTATION:
      return 90;
    case DC_COLORDEVICE:
      return 1;
    default:
      SetLastError(ERROR_NOT_SUPPORTED);
      return GDI_ERROR;
  }
}

}  // namespace

extern "C" {

// Without pPSUIInfo: the DEVMODEW exchange of DocumentProperties. fMode 0 or
// no output buffer asks for the size (returned, and stored in cbOut);
// otherwise the result is the defaults merged with pdmIn (DM_IN_BUFFER),
// copied to pdmOut (DM_OUT_BUFFER), and the answer is IDOK. With pPSUIInfo:
// the property sheet, which this driver does not have.
LONG WINAPI DrvDocumentPropertySheets(PROPSHEETUI_INFO *pPSUIInfo, LPARAM lParam) {
  if (pPSUIInfo) {
    if (pPSUIInfo->Reason == kReasonGetInfoHeader) {
      SetLastError(ERROR_NOT_SUPPORTED);
      return kSheetLastError;
    }
    if (pPSUIInfo->Reason == kReasonInit) pPSUIInfo->Result = kSheetOk;
    return kSheetOk;
  }
  DOCUMENTPROPERTYHEADER *header = (DOCUMENTPROPERTYHEADER *)lParam;
  if (!header || header->cbSize < sizeof(DOCUMENTPROPERTYHEADER)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  if (header->fMode == 0 || !header->pdmOut) {
    header->cbOut = sizeof(DEVMODEW);
    return (LONG)sizeof(DEVMODEW);
  }
  const DEVMODEW *in = (header->fMode & DM_IN_BUFFER) ? header->pdmIn : nullptr;
  if (header->fMode & DM_OUT_BUFFER) {
    if (!ProduceDevMode(header->pszPrinterName, in, header->pdmOut, header->cbOut)) return -1;
  }
  return IDOK;
}

// No device property pages: the sheet is not available.
LONG WINAPI DrvDevicePropertySheets(PROPSHEETUI_INFO *pPSUIInfo, LPARAM lParam) {
  if (pPSUIInfo && pPSUIInfo->Reason == kReasonInit) {
    pPSUIInfo->Result = kSheetOk;
    return kSheetOk;
  }
  if (pPSUIInfo && pPSUIInfo->Reason != kReasonGetInfoHeader) return kSheetOk;
  SetLastError(ERROR_NOT_SUPPORTED);
  return kSheetLastError;
}

DWORD WINAPI DrvDeviceCapabilities(HANDLE hPrinter, PWSTR pDeviceName, WORD iDevCap, PVOID pOutput,
                                   PDEVMODEW pDevMode) {
  return Capabilities(iDevCap, pOutput);
}

// The spooler's variant: the same answers, with the output's size given.
DWORD WINAPI DrvSplDeviceCaps(HANDLE hPrinter, PWSTR pDeviceName, WORD iDevCap, PVOID pOutput,
                              DWORD cchBufSize, PDEVMODEW pDevMode) {
  if (pOutput) {
    DWORD count = Capabilities(iDevCap, nullptr);
    DWORD need = 0;
    if (iDevCap == DC_PAPERNAMES && count != GDI_ERROR) need = count * 64;
    if (need > cchBufSize) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return GDI_ERROR;
    }
  }
  return Capabilities(iDevCap, pOutput);
}

// Gives the driver's default DEVMODEW (CDM_DRIVER_DEFAULT) or converts pdmIn
// to this driver's DEVMODEW (CDM_CONVERT, CDM_CONVERT351). *pcbNeeded holds
// the output's size on entry and the size needed on return.
BOOL WINAPI DrvConvertDevMode(LPWSTR pPrinterName, PDEVMODEW pdmIn, PDEVMODEW pdmOut, PLONG pcbNeeded,
                              DWORD fMode) {
  if (!pcbNeeded || (fMode != kDriverDefault && fMode != kConvert && fMode != kConvert351) ||
      (fMode != kDriverDefault && !pdmIn)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  LONG room = *pcbNeeded;
  *pcbNeeded = sizeof(DEVMODEW);
  if (room < (LONG)sizeof(DEVMODEW)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  return ProduceDevMode(pPrinterName, fMode == kDriverDefault ? nullptr : pdmIn, pdmOut, (DWORD)room);
}

// Every job may print on this device.
BOOL WINAPI DevQueryPrintEx(DEVQUERYPRINT_INFO *pDQPInfo) {
  if (pDQPInfo) pDQPInfo->cchNeeded = 0;
  return TRUE;
}

// The driver keeps no state of its own per printer or per installation, so
// every event of either life succeeds as it is.
BOOL WINAPI DrvPrinterEvent(LPWSTR pPrinterName, INT DriverEvent, DWORD Flags, LPARAM lParam) {
  return TRUE;
}

BOOL WINAPI DrvDriverEvent(DWORD dwDriverEvent, DWORD dwLevel, LPBYTE pDriverInfo, LPARAM lParam) {
  return TRUE;
}

BOOL WINAPI DrvUpgradePrinter(DWORD dwLevel, LPBYTE pDriverUpgradeInfo) {
  return TRUE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

}  // extern "C"
