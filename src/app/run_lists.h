// The lists a run keeps in its InstallContext: files whose deletion failed
// (sys/locked_files.h), and the product's printers remembered before they
// were deleted.
//
// Nodes and the texts they own come from the global-memory allocator
// (GlobalAlloc, fixed, zero-filled) and go back with GlobalFree.
#pragma once

#include "platform/win32.h"
#include "sys/locked_files.h"

// One remembered printer of the product.
struct SavedPrinter {
  LPSTR SettingsName;        // own copy of the printer's "SubKey" value (ANSI), length + 1 bytes
  PRINTER_INFO_2W *Printer;  // the printer's record inside the context's Printers; not owned
  SavedPrinter *Next;        // the following node, or null
};

// Frees `node` and every node behind it: each node's settings-name copy (when
// it has one), then the node. The printer records are not freed (they belong
// to the context's printer list). A null node frees nothing.
void FreeSavedPrinterChain(SavedPrinter *node);
