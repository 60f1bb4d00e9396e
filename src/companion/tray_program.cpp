#include "companion/tray_program.h"

#include "common/counted_string.h"
#include "common/text.h"

namespace {

// The identifiers the installer and the tray program share.
const char TrayMutexName[] = "{3F1B7C52-94D6-4E0A-B8C3-5D27A61E9F40}";
#define TRAY_WINDOW_CLASS W("vlx::{C6E2485D-7A19-4B3F-9E04-21D8F5B7A36C}")
const UINT TrayExitRequest = WM_USER + 2;
const char RunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const char RunValueNameA[] = "MorvalenteTray";
#define RUN_VALUE_NAME W("MorvalenteTray")
#define TRAY_FILE_NAME W("mrvtray.exe")

static_assert(sizeof(OSVERSIONINFOA) == 148, "OSVERSIONINFOA layout");
static_assert(sizeof(STARTUPINFOW) == 104, "STARTUPINFOW layout");

BOOL IsSeparator(WCHAR c) {
  return c == W('\\') || c == W('/');
}

// Posts the exit request while the tray program's window can be found and
// waits on its mutex after each request; gives up after TrayExitPasses.
void AskTrayProgramToExit(HANDLE mutex) {
  BOOL posted = FALSE;
  for (int pass = 0; pass < TrayExitPasses; ++pass) {
    HWND window = FindWindowW(TRAY_WINDOW_CLASS, nullptr);
    if (window != nullptr) {
      PostMessageW(window, TrayExitRequest, 0, 0);
      posted = TRUE;
      if (WaitForSingleObject(mutex, TrayExitWaitMs) == WAIT_OBJECT_0) return;
    } else if (posted) {
      // The window went after a request: the program is on its way out.
      WaitForSingleObject(mutex, TrayExitWaitMs);
      return;
    } else {
      Sleep(TraySearchPauseMs);
    }
  }
  if (posted) WaitForSingleObject(mutex, TrayExitWaitMs);
}

// The file-name part of a path: after its last backslash or forward slash.
LPCWSTR FileNamePart(LPCWSTR path) {
  LPCWSTR name = path;
  for (LPCWSTR p = path; *p != 0; ++p)
    if (IsSeparator(*p)) name = p + 1;
  return name;
}

// Reads the Run value and deletes the file it names. The installer runs with
// administrator rights and the value is writable by others with those rights
// only, yet it names the file to delete: only a file called "mrvtray.exe",
// named by a full path, is ever deleted. The file at `keepPath` (when given)
// is not deleted.
void DeleteRegisteredTrayFile(HKEY runKey, LPCWSTR keepPath) {
  WCHAR path[TrayRunValueChars];
  path[0] = 0;
  DWORD size = sizeof(path);
  LSTATUS status = RegQueryValueExW(runKey, RUN_VALUE_NAME, nullptr, nullptr, (LPBYTE)path, &size);
  if (status != ERROR_SUCCESS) {
    Sleep(TrayRunValueUnreadPauseMs);
    return;
  }
  // The stored text need not end in a zero; one that fills the whole buffer
  // without one is not a path this program wrote.
  DWORD chars = size / sizeof(WCHAR);
  if (chars >= TrayRunValueChars) {
    if (path[TrayRunValueChars - 1] != 0) return;
  } else {
    path[chars] = 0;
  }
  if (path[0] == 0) return;
  if (!TextEqualsIgnoreCase(FileNamePart(path), TRAY_FILE_NAME)) return;
  // A name without its drive would be taken from the current directory,
  // which holds no tray program that was registered.
  if (!IsFullPath(path)) return;
  if (keepPath != nullptr && TextEqualsIgnoreCase(path, keepPath)) return;
  for (int attempt = 1; attempt <= TrayFileDeleteAttempts; ++attempt) {
    if (DeleteFileW(path)) return;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || attempt == TrayFileDeleteAttempts) return;
    Sleep(error == ERROR_ACCESS_DENIED ? TrayFileDeniedPauseMs : TrayFileRetryPauseMs);
  }
}

// Whether CountedStringDirectory gives a non-empty result for `path`: its
// last backslash (or, with none, its last forward slash) lies after the
// first character.
BOOL HasDirectoryPart(LPCWSTR path) {
  int64_t backslash = -1, slash = -1;
  for (int64_t i = 0; path[i] != 0; ++i) {
    if (path[i] == W('\\')) backslash = i;
    if (path[i] == W('/')) slash = i;
  }
  return (backslash >= 0 ? backslash : slash) > 0;
}

}  // namespace

void StopTrayProgram(void) {
  StopTrayProgramKeeping(nullptr);
}

void StopTrayProgramKeeping(LPCWSTR keepPath) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, TrayMutexName);
  BOOL mutexObtained = mutex != nullptr;
  if (mutexObtained) {
    if (GetLastError() == ERROR_ALREADY_EXISTS) AskTrayProgramToExit(mutex);
    CloseHandle(mutex);
  }

  HKEY runKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_ALL_ACCESS, &runKey) != ERROR_SUCCESS) return;
  if (mutexObtained) DeleteRegisteredTrayFile(runKey, keepPath);
  RegDeleteValueA(runKey, RunValueNameA);
  RegCloseKey(runKey);
}

BOOL TrayProgramPath(CountedString moduleDir, CountedString *path) {
  *path = nullptr;
  CountedString dir = nullptr;
  if (!AssignCountedString(&dir, CountedStringText(moduleDir))) return FALSE;
  uint64_t length = CountedStringLength(dir);
  if (length > 0 && IsSeparator(CountedStringText(dir)[length - 1]) &&
      !SetCountedStringLength(&dir, length - 1)) {
    FreeCountedString(&dir);
    return FALSE;
  }
  CountedString result = CountedStringDirectory(CountedStringText(dir));
  BOOL ok = result != nullptr || !HasDirectoryPart(CountedStringText(dir));
  FreeCountedString(&dir);
  uint64_t resultLength = CountedStringLength(result);
  if (ok && resultLength > 0 && !IsSeparator(CountedStringText(result)[resultLength - 1]))
    ok = AppendCountedString(&result, W("\\"));
  if (ok) ok = AppendCountedString(&result, TRAY_FILE_NAME);
  if (!ok) {
    FreeCountedString(&result);
    return FALSE;
  }
  *path = result;
  return TRUE;
}

void StartTrayProgram(InstallContext *ctx) {
  if (!ctx->LaunchTray) return;

  // The record stays zero when the call fails, which reads as no NT system.
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  GetVersionExA(&version);
  if (version.dwPlatformId != VER_PLATFORM_WIN32_NT || version.dwMajorVersion < 6) return;

  CountedString path = nullptr;
  if (!TrayProgramPath(ctx->ModuleDir, &path)) return;
  LPCWSTR text = CountedStringText(path);
  uint64_t length = CountedStringLength(path);
  // Without a directory the name alone would be looked for along the
  // system's search path, now and at every logon: nothing is registered or
  // started then.
  if (FileNamePart(text) == text) {
    FreeCountedString(&path);
    return;
  }

  HKEY runKey = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_ALL_ACCESS, &runKey) == ERROR_SUCCESS) {
    RegSetValueExW(runKey, RUN_VALUE_NAME, 0, REG_SZ, (const BYTE *)text,
                   (DWORD)((length + 1) * sizeof(WCHAR)));
    RegCloseKey(runKey);
  }

  // A quote, at most TrayCommandPathLimit characters of the path, a quote.
  WCHAR commandLine[TrayCommandPathLimit + 3];
  uint64_t used = length < TrayCommandPathLimit ? length : TrayCommandPathLimit;
  commandLine[0] = W('"');
  for (uint64_t i = 0; i < used; ++i) commandLine[1 + i] = text[i];
  commandLine[1 + used] = W('"');
  commandLine[2 + used] = 0;

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION process = {};
  if (CreateProcessW(nullptr, commandLine, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                     &startup, &process)) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  FreeCountedString(&path);
}
