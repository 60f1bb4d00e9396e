#include "sys/pending_renames.h"

#include "common/product.h"
#include "common/text.h"
#include "sys/spooler_restart.h"

namespace {

const char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR PendingValue[] = W("PendingFileRenameOperations");
const char PendingValueA[] = "PendingFileRenameOperations";
const int CheckPasses = 2;

// The name to use for file-system calls: without a leading "\??\".
LPCWSTR WithoutPrefix(LPCWSTR name) {
  if (name[0] == '\\' && name[1] == '?' && name[2] == '?' && name[3] == '\\') return name + 4;
  return name;
}

// The part after the last backslash, forward slash or colon.
LPCWSTR FileNamePart(LPCWSTR name) {
  LPCWSTR part = name;
  for (LPCWSTR p = name; *p != 0; ++p) {
    if (*p == '\\' || *p == '/' || *p == ':') part = p + 1;
  }
  return part;
}

// The length of the string at `pos` of `chars` characters, or -1 when it
// has no zero before the end.
int64_t StringLength(const WCHAR *data, uint64_t chars, uint64_t pos) {
  for (uint64_t i = pos; i < chars; ++i) {
    if (data[i] == 0) return (int64_t)(i - pos);
  }
  return -1;
}

// Only a full path counts as naming an existing file, so that the sweep
// never deletes a file of the current directory (an NT name such as
// "\??\UNC\server\share\x" is not one once its prefix is gone).
BOOL IsExistingFile(LPCWSTR name) {
  DWORD attributes = GetFileAttributesW(WithoutPrefix(name));
  return IsFullPath(WithoutPrefix(name)) && attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A copy of the string (length units and a zero) in its own block, or null.
LPWSTR CopyName(const WCHAR *text, uint64_t length) {
  LPWSTR copy = (LPWSTR)GlobalAlloc(GPTR, (SIZE_T)(length + 1) * sizeof(WCHAR));
  if (copy == nullptr) return nullptr;
  for (uint64_t i = 0; i < length; ++i) copy[i] = text[i];
  copy[length] = 0;
  return copy;
}

// Reads the value into a new zero-filled block; the usable size is the
// smaller of the block's size and what the second read reports. Null when
// there is no data.
BYTE *ReadValue(DWORD *usable) {
  *usable = 0;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return nullptr;
  BYTE *data = nullptr;
  DWORD size = 0;
  if (RegQueryValueExW(key, PendingValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS && size != 0) {
    data = (BYTE *)GlobalAlloc(GPTR, size);
    if (data != nullptr) {
      DWORD got = size;
      if (RegQueryValueExW(key, PendingValue, nullptr, nullptr, data, &got) == ERROR_SUCCESS) {
        *usable = got < size ? got : size;
      } else {
        GlobalFree(data);
        data = nullptr;
      }
    }
  }
  RegCloseKey(key);
  return data;
}

// Is an existing file of the product named by a pair's existing name?
BOOL FindComponentFile(const PendingRenameList *list) {
  static const LPCWSTR components[] = {MONITOR_FILE_X64, DRIVER_FILE_X64, UI_FILE_X64};
  for (LPCWSTR component : components) {
    for (LONG k = 0; k < list->PairCount; ++k) {
      LPCWSTR name = list->Names[2 * k];
      if (list->Exists[2 * k] != 1 || name == nullptr) continue;
      if (TextEqualsIgnoreCase(FileNamePart(WithoutPrefix(name)), component)) return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

PendingRenameList::PendingRenameList(PendingRenameList &&other)
    : Names(other.Names), Exists(other.Exists), PairCount(other.PairCount) {
  other.Names = nullptr;
  other.Exists = nullptr;
  other.PairCount = 0;
}

PendingRenameList::~PendingRenameList() {
  FreePendingRenames(this);
}

PendingRenameList ReadPendingRenames(void) {
  PendingRenameList list;
  DWORD size = 0;
  BYTE *data = ReadValue(&size);
  if (data == nullptr) return list;

  // Strings start before the last character, which is the list's end; a
  // string runs to its zero, which must lie inside the data.
  const WCHAR *text = (const WCHAR *)data;
  uint64_t chars = size / sizeof(WCHAR);
  uint64_t limit = chars > 0 ? chars - 1 : 0;
  uint64_t strings = 0;
  for (uint64_t pos = 0; pos < limit;) {
    int64_t length = StringLength(text, chars, pos);
    if (length < 0) break;
    strings += 1;
    pos += (uint64_t)length + 1;
  }

  uint64_t pairs = strings / 2;
  if (pairs > 0 && pairs <= 0x3FFFFFFF) {
    list.Names = (LPWSTR *)GlobalAlloc(GPTR, (SIZE_T)(2 * pairs) * sizeof(LPWSTR));
    list.Exists = (LONG *)GlobalAlloc(GPTR, (SIZE_T)(2 * pairs) * sizeof(LONG));
    if (list.Names != nullptr && list.Exists != nullptr) {
      list.PairCount = (LONG)pairs;
      uint64_t entry = 0;
      for (uint64_t pos = 0; pos < limit && entry < 2 * pairs; ++entry) {
        int64_t length = StringLength(text, chars, pos);
        if (length < 0) break;
        // An empty string is no name; a copy that memory refused is none too.
        if (length > 0) {
          list.Names[entry] = CopyName(text + pos, (uint64_t)length);
          list.Exists[entry] = list.Names[entry] != nullptr && IsExistingFile(list.Names[entry]) ? 1 : 0;
        }
        pos += (uint64_t)length + 1;
      }
    } else {
      FreePendingRenames(&list);
    }
  }
  GlobalFree(data);
  return list;
}

void SweepPendingDeletes(PendingRenameList *list) {
  for (LONG k = 0; k < list->PairCount; ++k) {
    LPCWSTR name = list->Names[2 * k];
    if (list->Exists[2 * k] != 1 || name == nullptr || list->Names[2 * k + 1] != nullptr) continue;
    if (DeleteFileW(WithoutPrefix(name))) list->Exists[2 * k] = 0;
  }
}

void FreePendingRenames(PendingRenameList *list) {
  if (list->Names != nullptr) {
    for (LONG i = 0; i < 2 * list->PairCount; ++i) {
      if (list->Names[i] != nullptr) GlobalFree(list->Names[i]);
    }
    GlobalFree(list->Names);
  }
  if (list->Exists != nullptr) GlobalFree(list->Exists);
  list->Names = nullptr;
  list->Exists = nullptr;
  list->PairCount = 0;
}

BOOL CheckPendingComponentFiles(void) {
  for (int pass = 0; pass < CheckPasses; ++pass) {
    BOOL found = FALSE;
    {
      PendingRenameList list = ReadPendingRenames();
      SweepPendingDeletes(&list);
      found = FindComponentFile(&list);
    }
    if (!found) return FALSE;
    SpoolerRestart restart;
    RestartSpooler(&restart, nullptr);
    FinishSpoolerRestart(&restart);
  }
  return TRUE;
}

DWORD WithdrawPendingDeletes(LPCWSTR path) {
  HKEY key = nullptr;
  BYTE *data = nullptr;
  WCHAR *kept = nullptr;
  DWORD withdrawn = 0;
  DWORD size = 0;
  uint64_t chars = 0;
  uint64_t limit = 0;
  uint64_t pos = 0;
  uint64_t out = 0;
  uint64_t pairChars = 0;
  BOOL clean = TRUE;
  BOOL tailEmpty = TRUE;

  if (path == nullptr || path[0] == 0) goto done;
  data = ReadValue(&size);
  if (data == nullptr || size % sizeof(WCHAR) != 0) goto done;
  chars = size / sizeof(WCHAR);
  // The kept pairs and the rest never take more room than the whole data.
  kept = (WCHAR *)GlobalAlloc(GPTR, (SIZE_T)(chars + 1) * sizeof(WCHAR));
  if (kept == nullptr) goto done;

  {
    // The pairs ReadPendingRenames reads: strings that start before the
    // last character (the list's end), an empty existing name included.
    const WCHAR *text = (const WCHAR *)data;
    limit = chars > 0 ? chars - 1 : 0;
    while (pos < limit) {
      int64_t fromLength = StringLength(text, chars, pos);
      if (fromLength < 0) {
        clean = FALSE;
        break;
      }
      uint64_t toPos = pos + (uint64_t)fromLength + 1;
      if (toPos >= limit) break;  // a string without a partner: the rest
      int64_t toLength = StringLength(text, chars, toPos);
      if (toLength < 0) {
        clean = FALSE;
        break;
      }
      uint64_t next = toPos + (uint64_t)toLength + 1;
      if (toLength == 0 && TextEqualsIgnoreCase(WithoutPrefix(text + pos), path)) {
        ++withdrawn;
      } else {
        for (uint64_t i = pos; i < next; ++i) kept[out++] = text[i];
      }
      pos = next;
    }
    if (!clean || withdrawn == 0) {
      withdrawn = 0;
      goto done;
    }
    // Whatever follows the last pair (the list's end, or a string without
    // a partner) is kept as it stands.
    pairChars = out;
    for (uint64_t i = pos; i < chars; ++i) {
      if (text[i] != 0) tailEmpty = FALSE;
      kept[out++] = text[i];
    }
  }
  if (pos == chars) kept[out++] = 0;  // the list's end
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManagerKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
    key = nullptr;
    withdrawn = 0;
    goto done;
  }
  if (pairChars == 0 && tailEmpty) {
    // No pair is left.
    if (RegDeleteValueA(key, PendingValueA) != ERROR_SUCCESS) withdrawn = 0;
  } else if (RegSetValueExW(key, PendingValue, 0, REG_MULTI_SZ, (const BYTE *)kept,
                            (DWORD)(out * sizeof(WCHAR))) != ERROR_SUCCESS) {
    withdrawn = 0;
  }

done:
  if (kept != nullptr) GlobalFree(kept);
  if (data != nullptr) GlobalFree(data);
  if (key != nullptr) RegCloseKey(key);
  return withdrawn;
}
