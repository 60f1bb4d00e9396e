// Plain line output for the product's test tools: UTF-8 text on standard
// output, one record per line, fields separated by tabs. A null string is
// written as "(null)"; tabs and line ends inside a field are written as
// spaces so a record always stays one line.
#pragma once

#include <windows.h>

namespace out {

inline void Bytes(const char *data, DWORD size) {
  HANDLE h = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD written = 0;
  while (size > 0 && h && h != INVALID_HANDLE_VALUE) {
    if (!WriteFile(h, data, size, &written, nullptr) || written == 0) return;
    data += written;
    size -= written;
  }
}

inline void Text(const char *s) {
  Bytes(s, (DWORD)lstrlenA(s));
}

inline void Wide(const WCHAR *s) {
  if (!s) {
    Text("(null)");
    return;
  }
  char buf[1024];
  int n = 0;
  for (const WCHAR *p = s; *p; ++p) {
    WCHAR c = *p;
    if (c == L'\t' || c == L'\r' || c == L'\n') c = L' ';
    char enc[8];
    int len = WideCharToMultiByte(CP_UTF8, 0, &c, 1, enc, sizeof(enc), nullptr, nullptr);
    if (len <= 0) {
      enc[0] = '?';
      len = 1;
    }
    if (n + len > (int)sizeof(buf)) {
      Bytes(buf, n);
      n = 0;
    }
    CopyMemory(buf + n, enc, len);
    n += len;
  }
  Bytes(buf, n);
}

inline void Ansi(const char *s) {
  if (!s) {
    Text("(null)");
    return;
  }
  WCHAR buf[512];
  int n = MultiByteToWideChar(CP_ACP, 0, s, -1, buf, 512);
  if (n <= 0) {
    Text("?");
    return;
  }
  Wide(buf);
}

inline void Number(unsigned long long v) {
  char buf[24];
  int i = sizeof(buf) - 1;
  buf[i] = 0;
  do {
    buf[--i] = (char)('0' + v % 10);
    v /= 10;
  } while (v);
  Text(buf + i);
}

inline void Signed(long long v) {
  if (v < 0) {
    Text("-");
    Number((unsigned long long)(-(v + 1)) + 1);
  } else {
    Number((unsigned long long)v);
  }
}

inline void Hex(unsigned long long v) {
  char buf[24];
  int i = sizeof(buf) - 1;
  buf[i] = 0;
  do {
    buf[--i] = "0123456789abcdef"[v & 15];
    v >>= 4;
  } while (v);
  Text("0x");
  Text(buf + i);
}

inline void Tab() {
  Text("\t");
}
inline void End() {
  Text("\n");
}

}  // namespace out
