// The setup program's questions about the default printer, answered without
// a run context: no log, no error count, failures decide only the answer.
#pragma once

#include "platform/win32.h"

// "onInit", second half: TRUE when the default printer is something other
// than a printer of the product (also when there is no default printer, or
// it cannot be opened or read).
BOOL CheckDefaultPrinter(void);

// "def.set": makes the first printer of the product (in the order of the
// spooler's enumeration) the default printer; the outcome goes unnoticed.
void MakeProductPrinterDefault(void);
