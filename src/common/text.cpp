#include "common/text.h"

uint64_t TextLength(LPCWSTR text) {
  uint64_t n = 0;
  if (text == nullptr) return 0;
  while (text[n] != 0) ++n;
  return n;
}

BOOL TextEquals(LPCWSTR a, LPCWSTR b) {
  if (a == nullptr) a = W("");
  if (b == nullptr) b = W("");
  for (uint64_t i = 0;; ++i) {
    if (a[i] != b[i]) return FALSE;
    if (a[i] == 0) return TRUE;
  }
}

namespace {
WCHAR AsciiLower(WCHAR c) {
  return (c >= 'A' && c <= 'Z') ? (WCHAR)(c - 'A' + 'a') : c;
}

BOOL IsBlank(WCHAR c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
}  // namespace

BOOL TextEqualsIgnoreCase(LPCWSTR a, LPCWSTR b) {
  if (a == nullptr) a = W("");
  if (b == nullptr) b = W("");
  for (uint64_t i = 0;; ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return FALSE;
    if (a[i] == 0) return TRUE;
  }
}

BOOL IsFullPath(LPCWSTR path) {
  if (path == nullptr) return FALSE;
  WCHAR drive = (WCHAR)(path[0] | 0x20);
  return drive >= 'a' && drive <= 'z' && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

BOOL CopyText(WCHAR *buffer, uint64_t capacity, LPCWSTR text) {
  if (buffer == nullptr || capacity == 0) return FALSE;
  uint64_t n = TextLength(text);
  if (n >= capacity) {
    buffer[0] = 0;
    return FALSE;
  }
  for (uint64_t i = 0; i < n; ++i) buffer[i] = text[i];
  buffer[n] = 0;
  return TRUE;
}

LONG ParseDecimalInt32(LPCWSTR text) {
  if (text == nullptr) return 0;
  const WCHAR *p = text;
  while (IsBlank(*p)) ++p;
  BOOL negative = FALSE;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // The magnitude saturates just beyond the 32-bit range, so long digit runs
  // cannot overflow.
  const int64_t limit = (int64_t)2147483648LL;
  int64_t magnitude = 0;
  while (*p >= '0' && *p <= '9') {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > limit) magnitude = limit + 1;
    ++p;
  }
  int64_t value = negative ? -magnitude : magnitude;
  if (value > 2147483647LL) return (LONG)2147483647;
  if (value < -2147483648LL) return (LONG)(-2147483647 - 1);
  return (LONG)value;
}
