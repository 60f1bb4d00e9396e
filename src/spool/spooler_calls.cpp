// Single spooler queries and call wrappers.
#include "spool/spooler_calls.h"

#include <cstring>

#include "app/log.h"
#include "app/run_lists.h"
#include "common/product.h"

void TouchErrorText() {
  DWORD error = GetLastError();
  LPWSTR text = SystemErrorText(error);
  if (text != nullptr) LocalFree(text);
  SetLastError(error);
}

namespace {

// A zero-filled block of `size` bytes, or null with E_OUTOFMEMORY.
BYTE *ZeroedBlock(DWORD size) {
  BYTE *block = (BYTE *)GlobalAlloc(GMEM_FIXED, size);
  if (block == nullptr) {
    SetLastError((DWORD)E_OUTOFMEMORY);
    return nullptr;
  }
  std::memset(block, 0, size);
  return block;
}

// Releases a block whose second call failed, keeping that call's error.
void DropBlock(BYTE *block) {
  DWORD error = GetLastError();
  GlobalFree(block);
  SetLastError(error);
}

}  // namespace

PRINTER_INFO_2W *FetchPrinterInfo(HANDLE printer) {
  DWORD needed = 0;
  GetPrinterW(printer, 2, nullptr, 0, &needed);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return nullptr;
  BYTE *block = ZeroedBlock(needed);
  if (block == nullptr) return nullptr;
  if (!GetPrinterW(printer, 2, block, needed, &needed)) {
    DropBlock(block);
    return nullptr;
  }
  return (PRINTER_INFO_2W *)block;
}

DRIVER_INFO_2W *FetchPrinterDriverInfo(HANDLE printer) {
  DWORD needed = 0;
  GetPrinterDriverW(printer, (LPWSTR)ENVIRONMENT_X64, 2, nullptr, 0, &needed);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return nullptr;
  BYTE *block = ZeroedBlock(needed);
  if (block == nullptr) return nullptr;
  // With no environment named the spooler takes the caller's own, which for
  // this 64-bit program is "Windows x64".
  if (!GetPrinterDriverW(printer, nullptr, 2, block, needed, &needed)) {
    DropBlock(block);
    return nullptr;
  }
  return (DRIVER_INFO_2W *)block;
}

BOOL ClosePrinterChecked(HANDLE printer) {
  BOOL result = ClosePrinter(printer);
  if (result != TRUE) TouchErrorText();
  return result;
}

HANDLE AddPrinterChecked(PRINTER_INFO_2W *info) {
  HANDLE printer = AddPrinterW(nullptr, 2, (LPBYTE)info);
  if (printer == nullptr) TouchErrorText();
  return printer;
}

BOOL PurgeAndDeletePrinter(HANDLE printer) {
  SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE);
  BOOL result = DeletePrinter(printer);
  if (result != TRUE) TouchErrorText();
  return result;
}

BOOL AddPrinterDriverChecked(DRIVER_INFO_6W *info) {
  BOOL result = AddPrinterDriverExW(nullptr, 6, (LPBYTE)info, APD_COPY_ALL_FILES);
  if (result != TRUE) TouchErrorText();
  return result;
}

BOOL DeleteMonitorChecked(LPCWSTR environment) {
  BOOL result = DeleteMonitorW(nullptr, (LPWSTR)environment, (LPWSTR)PRODUCT_MONITOR_NAME);
  if (result != TRUE) TouchErrorText();
  return result;
}

void FreeSavedPrinterChain(SavedPrinter *node) {
  // Each node's settings name goes first, then the rest of the chain, then
  // the node: names front to back, nodes back to front. The chain is turned
  // around while its names go, so no recursion is needed for a long one.
  SavedPrinter *reversed = nullptr;
  while (node != nullptr) {
    SavedPrinter *next = node->Next;
    if (node->SettingsName != nullptr) GlobalFree(node->SettingsName);
    node->SettingsName = nullptr;
    node->Next = reversed;
    reversed = node;
    node = next;
  }
  while (reversed != nullptr) {
    SavedPrinter *next = reversed->Next;
    GlobalFree(reversed);
    reversed = next;
  }
}
