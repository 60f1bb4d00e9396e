#include "sys/pending_withdraw.h"

#include "common/text.h"

namespace {

const char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR PendingValue[] = W("PendingFileRenameOperations");
const char PendingValueA[] = "PendingFileRenameOperations";

LPCWSTR WithoutPrefix(LPCWSTR name) {
  if (name[0] == '\\' && name[1] == '?' && name[2] == '?' && name[3] == '\\') return name + 4;
  return name;
}

// Length of the zero-terminated string at `pos`, or -1 when its zero is not
// inside the data.
int64_t StringAt(const WCHAR *data, uint64_t chars, uint64_t pos) {
  for (uint64_t i = pos; i < chars; ++i)
    if (data[i] == 0) return static_cast<int64_t>(i - pos);
  return -1;
}

}  // namespace

DWORD WithdrawPendingDeletes(LPCWSTR path) {
  HKEY key = nullptr;
  BYTE *data = nullptr;
  WCHAR *kept = nullptr;
  DWORD withdrawn = 0;
  DWORD size = 0;
  DWORD got = 0;
  uint64_t chars = 0;
  uint64_t pos = 0;
  uint64_t out = 0;
  BOOL clean = TRUE;

  if (path == nullptr || path[0] == 0) goto done;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
      ERROR_SUCCESS) {
    key = nullptr;
    goto done;
  }
  if (RegQueryValueExW(key, PendingValue, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size < 2)
    goto done;
  data = static_cast<BYTE *>(GlobalAlloc(GPTR, size));
  if (data == nullptr) goto done;
  got = size;
  if (RegQueryValueExW(key, PendingValue, nullptr, nullptr, data, &got) != ERROR_SUCCESS || got > size ||
      got % 2 != 0)
    goto done;
  chars = got / 2;
  // The kept pairs never take more room than the whole data.
  kept = static_cast<WCHAR *>(GlobalAlloc(GPTR, (chars + 1) * sizeof(WCHAR)));
  if (kept == nullptr) goto done;

  {
    const WCHAR *text = reinterpret_cast<const WCHAR *>(data);
    // Pairs up to the list's end (an empty existing name) or the data's end.
    while (pos < chars && text[pos] != 0) {
      int64_t fromLen = StringAt(text, chars, pos);
      if (fromLen < 0) {
        clean = FALSE;
        break;
      }
      uint64_t toPos = pos + static_cast<uint64_t>(fromLen) + 1;
      int64_t toLen = StringAt(text, chars, toPos);
      if (toLen < 0) {
        clean = FALSE;
        break;
      }
      uint64_t next = toPos + static_cast<uint64_t>(toLen) + 1;
      if (toLen == 0 && TextEqualsIgnoreCase(WithoutPrefix(text + pos), path)) {
        ++withdrawn;
      } else {
        for (uint64_t i = pos; i < next; ++i) kept[out++] = text[i];
      }
      pos = next;
    }
  }
  if (!clean || withdrawn == 0) {
    withdrawn = 0;
    goto done;
  }
  kept[out++] = 0;  // the list's end
  if (out == 1) {
    if (RegDeleteValueA(key, PendingValueA) != ERROR_SUCCESS) withdrawn = 0;
  } else if (RegSetValueExW(key, PendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE *>(kept),
                            static_cast<DWORD>(out * sizeof(WCHAR))) != ERROR_SUCCESS) {
    withdrawn = 0;
  }

done:
  if (kept != nullptr) GlobalFree(kept);
  if (data != nullptr) GlobalFree(data);
  if (key != nullptr) RegCloseKey(key);
  return withdrawn;
}
