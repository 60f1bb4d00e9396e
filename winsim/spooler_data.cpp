// Printer data: the plain values of a printer and its keyed values (for
// example under "DsUser"), through the ANSI calls. The calls answer with an
// error code; values keep their type and their bytes as written.
#include <cstring>

#include "winsim/internal.h"
#include "winsim/spooler_pack.h"
#include "winsim/winsim.h"

using namespace winsim;

namespace {

// The plain values live in the key the spooler calls "PrinterDriverData".
// Names come in the machine's ANSI code page and are kept as UTF-8.
std::string KeyOf(LPCSTR key) {
  std::string k = Lower(AnsiToUtf8(key));
  return k == "printerdriverdata" ? std::string() : k;
}

DWORD Answer(DWORD error) {
  detail::Result(error == ERROR_SUCCESS ? std::string("ok") : "error " + std::to_string(error));
  return error;
}

DWORD GetData(HANDLE h, bool keyed, LPCSTR pKeyName, LPCSTR pValueName, LPDWORD pType, LPBYTE pData,
              DWORD nSize, LPDWORD pcbNeeded) {
  if (pcbNeeded == nullptr) return Answer(RPC_X_NULL_REF_POINTER);
  *pcbNeeded = 0;
  Printer *p = PrinterOfHandle(h, PRINTER_ACCESS_USE | PRINTER_ACCESS_ADMINISTER, true);
  if (p == nullptr) return GetLastError();
  if (pValueName == nullptr || (keyed && (pKeyName == nullptr || pKeyName[0] == 0)))
    return Answer(ERROR_INVALID_PARAMETER);
  auto key = p->data.find(keyed ? KeyOf(pKeyName) : std::string());
  if (key == p->data.end()) return Answer(ERROR_FILE_NOT_FOUND);
  auto value = key->second.find(Lower(AnsiToUtf8(pValueName)));
  if (value == key->second.end()) return Answer(ERROR_FILE_NOT_FOUND);
  const PrinterDataValue &v = value->second;
  DWORD size = static_cast<DWORD>(v.data.size());
  *pcbNeeded = size;
  if (pType != nullptr) *pType = v.type;
  if (nSize < size || (pData == nullptr && size > 0)) return Answer(ERROR_MORE_DATA);
  if (size > 0) std::memcpy(pData, v.data.data(), size);
  return Answer(ERROR_SUCCESS);
}

DWORD SetData(HANDLE h, bool keyed, LPCSTR pKeyName, LPCSTR pValueName, DWORD type, LPBYTE pData,
              DWORD cbData) {
  Printer *p = PrinterOfHandle(h, PRINTER_ACCESS_ADMINISTER);
  if (p == nullptr) return GetLastError();
  if (pValueName == nullptr || (pData == nullptr && cbData > 0) ||
      (keyed && (pKeyName == nullptr || pKeyName[0] == 0)))
    return Answer(ERROR_INVALID_PARAMETER);
  PrinterDataValue v;
  v.name = AnsiToUtf8(pValueName);
  v.type = type;
  if (cbData > 0) v.data.assign(pData, pData + cbData);
  p->data[keyed ? KeyOf(pKeyName) : std::string()][Lower(v.name)] = v;
  return Answer(ERROR_SUCCESS);
}

}  // namespace

DWORD WINAPI GetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, LPDWORD pType, LPBYTE pData, DWORD nSize,
                             LPDWORD pcbNeeded) {
  if (detail::Enter("GetPrinterDataA", AnsiToUtf8(pValueName) + " size " + std::to_string(nSize)))
    return GetLastError();
  return GetData(hPrinter, false, nullptr, pValueName, pType, pData, nSize, pcbNeeded);
}

DWORD WINAPI GetPrinterDataExA(HANDLE hPrinter, LPCSTR pKeyName, LPCSTR pValueName, LPDWORD pType,
                               LPBYTE pData, DWORD nSize, LPDWORD pcbNeeded) {
  if (detail::Enter("GetPrinterDataExA",
                    AnsiToUtf8(pKeyName) + "\\" + AnsiToUtf8(pValueName) + " size " + std::to_string(nSize)))
    return GetLastError();
  return GetData(hPrinter, true, pKeyName, pValueName, pType, pData, nSize, pcbNeeded);
}

DWORD WINAPI SetPrinterDataA(HANDLE hPrinter, LPSTR pValueName, DWORD Type, LPBYTE pData, DWORD cbData) {
  if (detail::Enter("SetPrinterDataA", AnsiToUtf8(pValueName) + " type " + std::to_string(Type) + " size " +
                                           std::to_string(cbData)))
    return GetLastError();
  return SetData(hPrinter, false, nullptr, pValueName, Type, pData, cbData);
}

DWORD WINAPI SetPrinterDataExA(HANDLE hPrinter, LPCSTR pKeyName, LPCSTR pValueName, DWORD Type, LPBYTE pData,
                               DWORD cbData) {
  if (detail::Enter("SetPrinterDataExA", AnsiToUtf8(pKeyName) + "\\" + AnsiToUtf8(pValueName) + " type " +
                                             std::to_string(Type) + " size " + std::to_string(cbData)))
    return GetLastError();
  return SetData(hPrinter, true, pKeyName, pValueName, Type, pData, cbData);
}
