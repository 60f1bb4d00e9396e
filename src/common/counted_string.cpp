#include "common/counted_string.h"

#include <cstring>

#include "common/text.h"

namespace {

const SIZE_T CountBytes = 8;  // the 64-bit count in front of the characters

// Longest length whose block size still fits a SIZE_T comfortably.
const uint64_t MaxLength = (uint64_t)0x3FFFFFFFFFFFFF00ull;

WCHAR *TextOf(CountedStringBlock *block) {
  return (WCHAR *)((BYTE *)block + CountBytes);
}

uint64_t *CountOf(CountedStringBlock *block) {
  return (uint64_t *)block;
}

SIZE_T BlockBytes(uint64_t capacity) {
  return (SIZE_T)(capacity * 2 + CountBytes);
}

// Whether `p` points into the characters of the string's current block.
BOOL PointsInto(CountedString s, LPCWSTR p) {
  if (s == nullptr || p == nullptr) return FALSE;
  const WCHAR *begin = TextOf(s);
  const WCHAR *end = begin + CountedStringCapacity(*CountOf(s));
  return p >= begin && p < end;
}

}  // namespace

uint64_t CountedStringCapacity(uint64_t length) {
  return ((length + 1 + 31) / 32) * 32;
}

uint64_t CountedStringLength(CountedString s) {
  return s == nullptr ? 0 : *CountOf(s);
}

LPCWSTR CountedStringText(CountedString s) {
  return s == nullptr ? W("") : TextOf(s);
}

LPWSTR CountedStringBuffer(CountedString s) {
  return s == nullptr ? nullptr : TextOf(s);
}

BOOL SetCountedStringLength(CountedString *s, uint64_t n) {
  if (n == 0) {
    if (*s != nullptr) HeapFree(GetProcessHeap(), 0, *s);
    *s = nullptr;
    return TRUE;
  }
  if (n > MaxLength) return FALSE;
  uint64_t capacity = CountedStringCapacity(n);
  CountedStringBlock *block = *s;
  if (block == nullptr) {
    block = (CountedStringBlock *)HeapAlloc(GetProcessHeap(), 0, BlockBytes(capacity));
  } else if (CountedStringCapacity(*CountOf(block)) != capacity) {
    block = (CountedStringBlock *)HeapReAlloc(GetProcessHeap(), 0, block, BlockBytes(capacity));
  }
  if (block == nullptr) return FALSE;
  *CountOf(block) = n;
  TextOf(block)[n] = 0;
  *s = block;
  return TRUE;
}

void FreeCountedString(CountedString *s) {
  SetCountedStringLength(s, 0);
}

BOOL AssignCountedString(CountedString *s, LPCWSTR text) {
  uint64_t n = TextLength(text);
  if (n == 0) return SetCountedStringLength(s, 0);
  if (PointsInto(*s, text)) {
    // The text is a tail of the string itself: bring it to the front first,
    // so that a smaller block still holds it.
    std::memmove(TextOf(*s), text, (size_t)n * sizeof(WCHAR));
    return SetCountedStringLength(s, n);
  }
  if (!SetCountedStringLength(s, n)) return FALSE;
  std::memcpy(TextOf(*s), text, (size_t)n * sizeof(WCHAR));
  return TRUE;
}

BOOL AppendCountedChars(CountedString *s, LPCWSTR text, uint64_t count) {
  if (text == nullptr || count == 0) return TRUE;
  uint64_t old = CountedStringLength(*s);
  if (count > MaxLength - old) return FALSE;
  // The text may lie inside the block, which the reallocation may move.
  BOOL inside = PointsInto(*s, text);
  uint64_t offset = inside ? (uint64_t)(text - TextOf(*s)) : 0;
  if (!SetCountedStringLength(s, old + count)) return FALSE;
  const WCHAR *source = inside ? TextOf(*s) + offset : text;
  std::memmove(TextOf(*s) + old, source, (size_t)count * sizeof(WCHAR));
  return TRUE;
}

BOOL AppendCountedString(CountedString *s, LPCWSTR text) {
  return AppendCountedChars(s, text, TextLength(text));
}

CountedString CountedStringFromAnsi(LPCSTR text) {
  CountedString result = nullptr;
  if (text == nullptr || text[0] == 0) return nullptr;
  // The first call gives the size with the terminating zero.
  int needed = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, nullptr, 0);
  if (needed <= 1) return nullptr;
  if (!SetCountedStringLength(&result, (uint64_t)(needed - 1))) return nullptr;
  // The block holds needed characters: the text and its terminator.
  int written = MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, text, -1, TextOf(result), needed);
  if (written != needed) {
    FreeCountedString(&result);
    return nullptr;
  }
  return result;
}

CountedString CountedStringDirectory(LPCWSTR path) {
  CountedString result = nullptr;
  if (path == nullptr) return nullptr;
  int64_t lastBackslash = -1;
  int64_t lastSlash = -1;
  for (int64_t i = 0; path[i] != 0; ++i) {
    if (path[i] == '\\') lastBackslash = i;
    if (path[i] == '/') lastSlash = i;
  }
  int64_t cut = lastBackslash >= 0 ? lastBackslash : lastSlash;
  if (cut <= 0) return nullptr;
  AppendCountedChars(&result, path, (uint64_t)cut);
  return result;
}
