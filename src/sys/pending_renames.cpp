#include "sys/pending_renames.h"

#include "common/product.h"
#include "common/text.h"
#include "sys/spooler_restart.h"

namespace {

const char SessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const WCHAR PendingValue[] = W("PendingFileRenameOperations");
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

// A drive letter, a colon and a separator. Any other name (relative, or an
// NT name such as "\??\UNC\server\share\x" once its prefix is gone) would
// be found in the current directory, which holds no file the system means.
BOOL IsFullPath(LPCWSTR path) {
  WCHAR drive = (WCHAR)(path[0] | 0x20);
  return drive >= 'a' && drive <= 'z' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// Only a full path counts as naming an existing file, so that the sweep
// never deletes a file of the current directory.
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
