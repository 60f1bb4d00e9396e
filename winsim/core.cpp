// winsim core: the current machine and process, fault injection, the call
// journal, handle and block accounting, memory, last error, the virtual
// clock and the string calls.
#include <cstdlib>
#include <cstring>

#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim {

namespace {
Machine g_machine;
Process g_process;
thread_local DWORD t_lastError = 0;
}  // namespace

Machine &M() {
  return g_machine;
}
void internal::SetMachine(Machine &&m) {
  g_machine = std::move(m);
}
Process &P() {
  return g_process;
}

// ---------------------------------------------------------------------------
// Text helpers
// ---------------------------------------------------------------------------

std::string ToUtf8(const std::u16string &s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string ToUtf8(const WCHAR *s) {
  return s ? ToUtf8(std::u16string(s)) : std::string();
}

std::u16string ToUtf16(const std::string &s) {
  std::u16string out;
  size_t i = 0;
  while (i < s.size()) {
    uint8_t b = static_cast<uint8_t>(s[i]);
    uint32_t c = 0xFFFD;
    size_t n = 1;
    if (b < 0x80) {
      c = b;
    } else if ((b & 0xE0) == 0xC0 && i + 1 < s.size()) {
      c = ((b & 0x1F) << 6) | (s[i + 1] & 0x3F);
      n = 2;
    } else if ((b & 0xF0) == 0xE0 && i + 2 < s.size()) {
      c = ((b & 0x0F) << 12) | ((s[i + 1] & 0x3F) << 6) | (s[i + 2] & 0x3F);
      n = 3;
    } else if ((b & 0xF8) == 0xF0 && i + 3 < s.size()) {
      c = ((b & 0x07) << 18) | ((s[i + 1] & 0x3F) << 12) | ((s[i + 2] & 0x3F) << 6) | (s[i + 3] & 0x3F);
      n = 4;
    }
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += n;
  }
  return out;
}

std::string Lower(const std::string &s) {
  std::string out = s;
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

// Compared in place: the spooler's name lookups call this for every printer
// of the machine, so it must not allocate.
bool IEquals(const std::string &a, const std::string &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Faults, journal, accounting
// ---------------------------------------------------------------------------

void AddFault(const std::string &call, DWORD error, uint32_t nth, uint32_t times, bool always) {
  Fault f;
  f.call = call;
  f.error = error;
  f.nth = nth == 0 ? 1 : nth;
  f.times = times;
  f.always = always;
  M().faults.push_back(f);
}

void ClearFaults() {
  M().faults.clear();
}

std::vector<std::string> Leaks() {
  static const char *kinds[] = {"file", "key", "service", "manager", "printer", "mutex", "process", "thread"};
  std::vector<std::string> out;
  for (auto &b : P().blocks) out.push_back("block from " + b.second);
  for (auto &h : P().handles) out.push_back(std::string("handle: ") + kinds[static_cast<int>(h.second)]);
  return out;
}

size_t CallCount(const std::string &call) {
  size_t n = 0;
  for (auto &e : P().journal)
    if (e.call == call) ++n;
  return n;
}

void BeginProcess(const std::u16string &commandLine) {
  Process fresh;
  fresh.commandLine = commandLine;
  g_process = fresh;
  t_lastError = 0;
  for (auto &f : M().faults) f.used = 0;
  internal::ResetProcessObjects();
}

namespace detail {

bool Enter(const char *call, const std::string &args) {
  Process &p = P();
  uint32_t n = ++p.callCounts[call];
  p.journal.push_back({call, args, ""});
  for (auto &f : M().faults) {
    if (f.call != call || n < f.nth) continue;
    if (!f.always && f.used >= f.times) continue;
    ++f.used;
    t_lastError = f.error;
    p.journal.back().result = "fault " + std::to_string(f.error);
    return true;
  }
  return false;
}

void Result(const std::string &result) {
  if (!P().journal.empty() && P().journal.back().result.empty()) P().journal.back().result = result;
}

HANDLE NewHandle(HandleKind kind) {
  Process &p = P();
  p.nextHandle += 4;
  HANDLE h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(p.nextHandle));
  p.handles[h] = kind;
  return h;
}

bool IsHandle(const void *h, HandleKind kind) {
  auto it = P().handles.find(h);
  return it != P().handles.end() && it->second == kind;
}

void DropHandle(const void *h) {
  P().handles.erase(h);
}

// Sets the requested size of a block (0: gone) in the process's byte count.
void CountBytes(const void *p, size_t bytes) {
  Process &pr = P();
  auto it = pr.blockBytes.find(p);
  if (it != pr.blockBytes.end()) {
    pr.liveBytes -= it->second;
    pr.blockBytes.erase(it);
  }
  if (bytes == 0) return;
  pr.blockBytes[p] = bytes;
  pr.liveBytes += bytes;
  if (pr.liveBytes > pr.peakBytes) pr.peakBytes = pr.liveBytes;
}

void TrackBlock(const void *p, const char *allocator) {
  P().blocks[p] = allocator;
}

bool UntrackBlock(const void *p, const char *allocator) {
  auto it = P().blocks.find(p);
  if (it == P().blocks.end() || it->second != allocator) return false;
  P().blocks.erase(it);
  CountBytes(p, 0);
  return true;
}

void Advance(uint64_t ms) {
  M().clockMs += ms;
  P().waitedMs += ms;
  internal::OnClock();
}

}  // namespace detail
}  // namespace winsim

using namespace winsim;

// ---------------------------------------------------------------------------
// Last error
// ---------------------------------------------------------------------------

DWORD WINAPI GetLastError(void) {
  return t_lastError;
}
void WINAPI SetLastError(DWORD dwErrCode) {
  t_lastError = dwErrCode;
}

// ---------------------------------------------------------------------------
// Memory: every block is tracked by the allocator family that made it
// ---------------------------------------------------------------------------

namespace {
const char kGlobal[] = "GlobalAlloc";
const char kLocal[] = "LocalAlloc";
const char kHeap[] = "HeapAlloc";
HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x0ea70000));

void *AllocTracked(size_t bytes, bool zero, const char *family) {
  // A zero-byte request still yields a distinct block, as on Windows.
  void *p = zero ? std::calloc(1, bytes ? bytes : 1) : std::malloc(bytes ? bytes : 1);
  if (p == nullptr) return nullptr;
  if (!zero) std::memset(p, 0xCD, bytes);  // make reliance on unrequested zero-fill visible
  detail::TrackBlock(p, family);
  detail::CountBytes(p, bytes ? bytes : 1);
  return p;
}
}  // namespace

HGLOBAL WINAPI GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
  if (detail::Enter("GlobalAlloc", std::to_string(dwBytes))) return nullptr;
  void *p = AllocTracked(dwBytes, (uFlags & GMEM_ZEROINIT) != 0, kGlobal);
  if (p == nullptr) SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return p;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL hMem) {
  if (hMem == nullptr) return nullptr;
  if (!detail::UntrackBlock(hMem, kGlobal)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
  }
  std::free(hMem);
  return nullptr;
}

void *winsim::detail::SystemLocalAlloc(size_t bytes) {
  return AllocTracked(bytes, false, kLocal);
}

HLOCAL WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
  if (detail::Enter("LocalAlloc", std::to_string(uBytes))) return nullptr;
  return AllocTracked(uBytes, (uFlags & LMEM_ZEROINIT) != 0, kLocal);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) {
  if (hMem == nullptr) return nullptr;
  if (!detail::UntrackBlock(hMem, kLocal)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return hMem;
  }
  std::free(hMem);
  return nullptr;
}

HANDLE WINAPI GetProcessHeap(void) {
  return kProcessHeap;
}

LPVOID WINAPI HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes) {
  if (detail::Enter("HeapAlloc", std::to_string(dwBytes))) return nullptr;
  if (hHeap != kProcessHeap) return nullptr;
  return AllocTracked(dwBytes, (dwFlags & HEAP_ZERO_MEMORY) != 0, kHeap);
}

LPVOID WINAPI HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes) {
  if (detail::Enter("HeapReAlloc", std::to_string(dwBytes))) return nullptr;
  if (hHeap != kProcessHeap || lpMem == nullptr) return nullptr;
  Process &pr = P();
  // The old block's entries are found before realloc: its address is not
  // to be used once realloc has run.
  auto block = pr.blocks.find(lpMem);
  if (block == pr.blocks.end()) return nullptr;
  auto counted = pr.blockBytes.find(lpMem);
  void *p = std::realloc(lpMem, dwBytes ? dwBytes : 1);
  if (p == nullptr) return nullptr;  // the old block stays valid and tracked
  pr.blocks.erase(block);
  if (counted != pr.blockBytes.end()) {
    pr.liveBytes -= counted->second;
    pr.blockBytes.erase(counted);
  }
  detail::TrackBlock(p, kHeap);
  detail::CountBytes(p, dwBytes ? dwBytes : 1);
  (void)dwFlags;
  return p;
}

BOOL WINAPI HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem) {
  (void)dwFlags;
  if (lpMem == nullptr) return TRUE;
  if (hHeap != kProcessHeap || !detail::UntrackBlock(lpMem, kHeap)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::free(lpMem);
  return TRUE;
}

// ---------------------------------------------------------------------------
// Strings
// ---------------------------------------------------------------------------

int WINAPI lstrlenW(LPCWSTR lpString) {
  if (lpString == nullptr) return 0;
  int n = 0;
  while (lpString[n] != 0) ++n;
  return n;
}

int WINAPI lstrlenA(LPCSTR lpString) {
  return lpString ? static_cast<int>(std::strlen(lpString)) : 0;
}

LPWSTR WINAPI lstrcpyW(LPWSTR lpString1, LPCWSTR lpString2) {
  int i = 0;
  do {
    lpString1[i] = lpString2[i];
  } while (lpString2[i++] != 0);
  return lpString1;
}

LPWSTR WINAPI lstrcatW(LPWSTR lpString1, LPCWSTR lpString2) {
  lstrcpyW(lpString1 + lstrlenW(lpString1), lpString2);
  return lpString1;
}

// Code page 1252: bytes 0x80-0x9F map to these characters (0 = undefined,
// kept as the byte value as Windows does for the five holes).
static const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                         0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                         0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                         0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

static char16_t Cp1252Char(uint8_t b) {
  return (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : static_cast<char16_t>(b);
}

namespace winsim {
// The machine's own reading of ANSI names: not a call of the process, so it
// is neither counted nor faulted.
std::string AnsiToUtf8(const char *s) {
  std::u16string w;
  for (; s != nullptr && *s != 0; ++s) w += Cp1252Char(static_cast<uint8_t>(*s));
  return ToUtf8(w);
}
}  // namespace winsim

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
  (void)dwFlags;
  if (detail::Enter("MultiByteToWideChar", "")) return 0;
  if (CodePage != CP_ACP && CodePage != 1252) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cchWideChar < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int n = cbMultiByte < 0 ? static_cast<int>(std::strlen(lpMultiByteStr)) + 1 : cbMultiByte;
  if (cchWideChar == 0) return n;
  if (cchWideChar < n) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (int i = 0; i < n; ++i) lpWideCharStr[i] = Cp1252Char(static_cast<uint8_t>(lpMultiByteStr[i]));
  return n;
}

// ---------------------------------------------------------------------------
// Virtual clock
// ---------------------------------------------------------------------------

void WINAPI Sleep(DWORD dwMilliseconds) {
  detail::Enter("Sleep", std::to_string(dwMilliseconds));
  detail::Advance(dwMilliseconds);
}

DWORD WINAPI GetTickCount(void) {
  return static_cast<DWORD>(M().clockMs);
}
