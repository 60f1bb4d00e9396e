#include "sys/file_copy.h"

#include "app/context.h"
#include "app/error_codes.h"
#include "app/log.h"
#include "common/text.h"

namespace {

const DWORD CopyBufferBytes = 8192;
const int DestinationAttempts = 100;
const DWORD DestinationRetryMs = 50;
const DWORD DestinationTimeoutMs = 10000;
const DWORD PathTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

// A new block holding `dir`, a backslash unless `dir` is empty or already
// ends in one, and `name`. Null when memory ran out. The caller frees it
// with GlobalFree.
LPWSTR JoinPath(LPCWSTR dir, LPCWSTR name) {
  int dirLength = lstrlenW(dir);
  int nameLength = lstrlenW(name);
  LPWSTR path = (LPWSTR)GlobalAlloc(GPTR, ((SIZE_T)dirLength + nameLength + 3) * sizeof(WCHAR));
  if (path == nullptr) return nullptr;
  lstrcpyW(path, dir);
  if (dirLength > 0 && dir[dirLength - 1] != '\\') lstrcatW(path, W("\\"));
  lstrcatW(path, name);
  return path;
}

// Moves the source's bytes to the destination. TRUE when the whole source
// arrived; FALSE after a failed read or a short write, with the failed
// call's code as the last error.
BOOL CopyContents(HANDLE source, HANDLE destination) {
  BYTE buffer[CopyBufferBytes];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(source, buffer, CopyBufferBytes, &got, nullptr)) return FALSE;
    if (got != 0) {
      DWORD written = 0;
      BOOL wrote = WriteFile(destination, buffer, got, &written, nullptr);
      if (written != got) {
        // A write that fell short without saying why is a full disk.
        if (wrote) SetLastError(ERROR_DISK_FULL);
        return FALSE;
      }
    }
    if (got != CopyBufferBytes) return TRUE;
  }
}

}  // namespace

HRESULT CopyFile(InstallContext *ctx, LPCWSTR destDir, LPCWSTR fileName, LPWSTR destPath, BOOL report) {
  WriteLog(ctx, W(">CopyFile %s to %s [%d])"), fileName, destDir, report ? 1 : 0);
  ctx->IndentLevel += 1;

  HRESULT result = E_FAIL;
  HANDLE source = INVALID_HANDLE_VALUE;
  HANDLE destination = INVALID_HANDLE_VALUE;
  LPWSTR sourcePath = JoinPath(CountedStringText(ctx->ModuleDir), fileName);
  LPWSTR targetPath = JoinPath(destDir, fileName);
  if (destPath != nullptr) destPath[0] = 0;

  if (sourcePath == nullptr || targetPath == nullptr) {
    SetLastError((DWORD)E_OUTOFMEMORY);
    if (report) LogError(ctx, ErrOpenSource, MsgOpenSource, fileName);
    goto done;
  }
  if ((DWORD)lstrlenW(targetPath) > CopyDestinationLimit) {
    // Longer than the callers' buffers and the system's path limit.
    SetLastError(PathTooLong);
    if (report) LogError(ctx, ErrOpenDestination, MsgOpenDestination, targetPath);
    goto done;
  }
  if (destPath != nullptr) lstrcpyW(destPath, targetPath);

  // Without its directory a name would be looked up in the current
  // directory: a source there is not the installer's file, and a
  // destination there is not where the file belongs.
  if (CountedStringLength(ctx->ModuleDir) == 0) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    if (report) LogError(ctx, ErrOpenSource, MsgOpenSource, fileName);
    goto done;
  }
  if (destDir == nullptr || destDir[0] == 0) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    if (report) LogError(ctx, ErrOpenDestination, MsgOpenDestination, targetPath);
    goto done;
  }

  source = CreateFileW(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (source == INVALID_HANDLE_VALUE) {
    if (report) LogError(ctx, ErrOpenSource, MsgOpenSource, fileName);
    goto done;
  }
  destination = CreateDestinationFile(ctx, targetPath);
  if (destination == INVALID_HANDLE_VALUE) {
    if (report) LogError(ctx, ErrOpenDestination, MsgOpenDestination, targetPath);
    goto done;
  }
  if (CopyContents(source, destination)) {
    result = S_OK;
  } else if (report) {
    LogError(ctx, ErrCopyFile, MsgCopyFile, targetPath);
  }

done:
  if (destination != INVALID_HANDLE_VALUE) CloseHandle(destination);
  if (source != INVALID_HANDLE_VALUE) CloseHandle(source);
  if (targetPath != nullptr) GlobalFree(targetPath);
  if (sourcePath != nullptr) GlobalFree(sourcePath);
  WriteLog(ctx, result == S_OK ? W("Copy Succeeded :)") : W("Copy Failed :("));
  ctx->IndentLevel -= 1;
  return result;
}

HANDLE CreateDestinationFile(InstallContext *ctx, LPCWSTR path) {
  DWORD start = GetTickCount();
  for (int attempt = 0; attempt < DestinationAttempts; ++attempt) {
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    // Unsigned difference: right across the tick counter's wrap.
    if ((DWORD)(GetTickCount() - start) > DestinationTimeoutMs) {
      WriteLog(ctx, W("CreateFile - timeout"));
      return INVALID_HANDLE_VALUE;
    }
    Sleep(DestinationRetryMs);
  }
  return INVALID_HANDLE_VALUE;
}
