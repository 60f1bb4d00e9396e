// Questions about the default printer.
#include "spool/default_printer.h"

#include "app/context.h"
#include "common/product.h"
#include "common/text.h"
#include "spool/spooler_calls.h"

namespace {

// Characters of the default printer's name offered to the spooler.
const DWORD DefaultNameUnits = 260;

}  // namespace

BOOL CheckDefaultPrinter(void) {
  // One unit more than offered keeps the name terminated whatever comes back.
  WCHAR name[DefaultNameUnits + 1] = {};
  DWORD capacity = DefaultNameUnits;
  SpoolGetDefaultPrinterW(name, &capacity);
  if (name[0] == 0) return TRUE;

  HANDLE printer = nullptr;
  if (!OpenPrinterW(name, &printer, nullptr) || printer == nullptr) return TRUE;
  PRINTER_INFO_2W *info = FetchPrinterInfo(printer);
  BOOL result = TRUE;
  if (info != nullptr && IsProductPrinter(info)) result = FALSE;
  ClosePrinterChecked(printer);
  if (info != nullptr) GlobalFree(info);
  return result;
}

void MakeProductPrinterDefault(void) {
  PrinterList list = {nullptr, 0};
  LoadPrinterList(&list);
  PRINTER_INFO_2W *first = FirstProductPrinter(&list);
  if (first != nullptr) SpoolSetDefaultPrinterW(first->pPrinterName);
  FreePrinterList(&list);
}
