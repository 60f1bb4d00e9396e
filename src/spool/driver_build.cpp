#include "spool/driver_build.h"

#include "app/context.h"
#include "common/product.h"
#include "common/text.h"
#include "spool/spooler_calls.h"
#include "sys/build_number.h"

BOOL CheckDriverBuild(void) {
  PrinterList printers = {};
  HANDLE printer = nullptr;
  DRIVER_INFO_2W *driver = nullptr;
  PRINTER_INFO_2W *first = nullptr;
  BOOL result = FALSE;

  LoadPrinterList(&printers);
  first = FirstProductPrinter(&printers);
  if (first == nullptr) goto done;
  if (!OpenPrinterW(first->pPrinterName, &printer, nullptr) || printer == nullptr) {
    printer = nullptr;
    goto done;
  }
  driver = FetchPrinterDriverInfo(printer);
  result = driver != nullptr && driver->pDriverPath != nullptr &&
           BuildNumber(driver->pDriverPath) > MinimumDriverBuild;

done:
  if (printer != nullptr) ClosePrinterChecked(printer);
  if (driver != nullptr) GlobalFree(driver);
  FreePrinterList(&printers);
  return result;
}
