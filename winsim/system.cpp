// System: the message table, the command line, the module and system
// directories, the OS version and the keyboard.
#include <cstring>
#include <vector>

#include "winsim/internal.h"
#include "winsim/winsim.h"

namespace winsim {
namespace {

// winsim's message table for language 1033. The texts are winsim's own.
struct MessageText {
  DWORD code;
  const char *text;
};
const MessageText kMessages[] = {
    {0, "All went well."},
    {2, "No file of that name could be found."},
    {3, "The path leads to a folder that is not there."},
    {5, "Access to the object was refused."},
    {6, "The handle given is not a valid one."},
    {8, "There is not enough memory left to carry this out."},
    {14, "Memory ran out before the operation could finish."},
    {32, "Another process has the file open and does not share it."},
    {80, "A file of that name is already there."},
    {87, "One of the parameters is not valid."},
    {112, "The disk has no room left."},
    {122, "The buffer handed to the call is too small for the data."},
    {123, "The file, folder or volume name is not well formed."},
    {124, "The information level asked for is not supported."},
    {126, "The module named could not be found."},
    {127, "The procedure named could not be found in the module."},
    {183, "The object cannot be created because it already exists."},
    {234, "There is more data than the buffer can hold."},
    {1056, "The service is already running."},
    {1060, "No service of that name is installed."},
    {1061, "The service cannot take control requests right now."},
    {1062, "The service has not been started."},
    {1722, "The spooler service cannot be reached."},
    {1796, "The port named is not known."},
    {1797, "The printer driver named is not known."},
    {1798, "The print processor named is not known."},
    {1801, "No printer of that name exists, or the name is not valid."},
    {1802, "A printer of that name already exists."},
    {1805, "The environment named is not valid."},
    {3000, "The print monitor named is not known."},
    {3001, "Printers are still using this printer driver."},
    {3006, "A print monitor of that name is already installed."},
    {3008, "Printers are still using a port of this print monitor."},
    {0x8007000E, "Memory ran out before the operation could finish."},
};

std::u16string g_commandLineStore;

}  // namespace
}  // namespace winsim

using namespace winsim;

DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                            LPWSTR lpBuffer, DWORD nSize, void *Arguments) {
  if (detail::Enter("FormatMessageW", std::to_string(dwMessageId))) return 0;
  if (!(dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) || lpBuffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (dwLanguageId != 0 && dwLanguageId != 1033) {
    SetLastError(1815);  // no text in that language
    return 0;
  }
  const char *text = nullptr;
  for (auto &m : kMessages)
    if (m.code == dwMessageId) text = m.text;
  if (text == nullptr) {
    SetLastError(317);  // no message for the code
    detail::Result("no text");
    return 0;
  }
  std::u16string w = ToUtf16(text) + u"\r\n";
  DWORD len = static_cast<DWORD>(w.size());
  if (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
    LPWSTR block = static_cast<LPWSTR>(detail::SystemLocalAlloc((len + 1) * 2));
    if (block == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return 0;
    }
    std::memcpy(block, w.c_str(), (len + 1) * 2);
    *reinterpret_cast<LPWSTR *>(lpBuffer) = block;
    return len;
  }
  if (nSize < len + 1) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(lpBuffer, w.c_str(), (len + 1) * 2);
  return len;
}

LPWSTR WINAPI GetCommandLineW(void) {
  g_commandLineStore = P().commandLine;
  return g_commandLineStore.data();
}

// Splits a command line as the shell does: argument 0 is taken up to the
// closing quote or the first blank, without escapes; the others follow the
// backslash-and-quote rules.
LPWSTR *WINAPI CommandLineToArgvW(LPCWSTR lpCmdLine, int *pNumArgs) {
  if (detail::Enter("CommandLineToArgvW", "")) return nullptr;
  if (pNumArgs == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::vector<std::u16string> args;
  if (lpCmdLine == nullptr || lpCmdLine[0] == 0) {
    args.push_back(ToUtf16(M().modulePath));
  } else {
    const WCHAR *p = lpCmdLine;
    std::u16string a0;
    if (*p == u'"') {
      ++p;
      while (*p && *p != u'"') a0 += *p++;
      if (*p == u'"') ++p;
    } else {
      while (*p && *p != u' ' && *p != u'\t') a0 += *p++;
    }
    args.push_back(a0);
    for (;;) {
      while (*p == u' ' || *p == u'\t') ++p;
      if (*p == 0) break;
      std::u16string arg;
      bool quoted = false;
      while (*p && (quoted || (*p != u' ' && *p != u'\t'))) {
        if (*p == u'\\') {
          size_t n = 0;
          while (*p == u'\\') {
            ++n;
            ++p;
          }
          if (*p == u'"') {
            arg.append(n / 2, u'\\');
            if (n % 2) {
              arg += u'"';
              ++p;
            }
          } else {
            arg.append(n, u'\\');
          }
        } else if (*p == u'"') {
          ++p;
          if (quoted && *p == u'"') {
            arg += u'"';  // a doubled quote inside quotes is a literal quote
            ++p;
          } else {
            quoted = !quoted;
          }
        } else {
          arg += *p++;
        }
      }
      args.push_back(arg);
    }
  }
  // One block: the pointer array, then the strings.
  size_t bytes = sizeof(LPWSTR) * (args.size() + 1);
  for (auto &a : args) bytes += (a.size() + 1) * 2;
  uint8_t *block = static_cast<uint8_t *>(detail::SystemLocalAlloc(bytes));
  if (block == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  LPWSTR *argv = reinterpret_cast<LPWSTR *>(block);
  WCHAR *str = reinterpret_cast<WCHAR *>(block + sizeof(LPWSTR) * (args.size() + 1));
  for (size_t i = 0; i < args.size(); ++i) {
    argv[i] = str;
    std::memcpy(str, args[i].c_str(), (args[i].size() + 1) * 2);
    str += args[i].size() + 1;
  }
  argv[args.size()] = nullptr;
  *pNumArgs = static_cast<int>(args.size());
  return argv;
}

namespace {
HINSTANCE const kInstance = reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(0x140000000ull));
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName) {
  if (lpModuleName == nullptr) return kInstance;
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize) {
  if (detail::Enter("GetModuleFileNameW", "")) return 0;
  if (hModule != nullptr && hModule != kInstance) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::u16string path = ToUtf16(M().modulePath);
  if (nSize == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  if (path.size() + 1 > nSize) {
    // Cut to the buffer with a terminator, as Windows does.
    std::memcpy(lpFilename, path.c_str(), (nSize - 1) * 2);
    lpFilename[nSize - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
  }
  std::memcpy(lpFilename, path.c_str(), (path.size() + 1) * 2);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize) {
  if (detail::Enter("GetSystemDirectoryW", "")) return 0;
  std::u16string dir = ToUtf16(M().systemDir);
  if (lpBuffer == nullptr || uSize < dir.size() + 1) return static_cast<UINT>(dir.size() + 1);
  std::memcpy(lpBuffer, dir.c_str(), (dir.size() + 1) * 2);
  return static_cast<UINT>(dir.size());
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
  if (detail::Enter("GetVersionExA", "")) return FALSE;
  if (lpVersionInformation == nullptr ||
      (lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
       lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) + 8)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  lpVersionInformation->dwMajorVersion = M().osMajor;
  lpVersionInformation->dwMinorVersion = M().osMinor;
  lpVersionInformation->dwBuildNumber = M().osBuild;
  lpVersionInformation->dwPlatformId = M().osPlatform;
  lpVersionInformation->szCSDVersion[0] = 0;
  return TRUE;
}

SHORT WINAPI GetAsyncKeyState(int vKey) {
  detail::Enter("GetAsyncKeyState", std::to_string(vKey));
  if (vKey == VK_SHIFT && M().shiftHeld) return static_cast<SHORT>(0x8000);
  return 0;
}
