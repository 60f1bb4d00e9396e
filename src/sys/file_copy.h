// Copying the product's component files from the installer's directory.
#pragma once

#include "platform/win32.h"

struct InstallContext;

// Longest destination path CopyFile accepts, in characters; the callers'
// buffers for the destination path hold MAX_PATH units.
const DWORD CopyDestinationLimit = MAX_PATH - 1;

// Copies `fileName` from the context's ModuleDir into `destDir`, byte for byte through an
// 8192-byte buffer, replacing the destination. `destPath`, when given, is a
// buffer of MAX_PATH units that receives the destination path before any
// file is opened (the empty text when the path is longer than
// CopyDestinationLimit, which is refused). With `report` clear a failure
// writes no error line and leaves ErrorCount alone, so that the caller can
// try again and report the second attempt.
//
// An empty ModuleDir or destination directory opens nothing (error 10 or 9
// when reporting): a bare file name would be taken from, or written to, the
// current directory.
//
// Writes ">CopyFile %s to %s [%d])", its own lines one level deeper, and
// "Copy Succeeded :)" or "Copy Failed :(". Returns S_OK only when the whole
// source reached the destination; E_FAIL when the source or the destination
// cannot be opened, or when a read fails or a write falls short (error 8:
// the destination is left as far as the copy got).
HRESULT CopyFile(InstallContext *ctx, LPCWSTR destDir, LPCWSTR fileName, LPWSTR destPath, BOOL report);

// Creates or replaces `path` for writing (others may read it), trying up to
// 100 times 50 ms apart while it is in use. Gives up early with the line
// "CreateFile - timeout" when more than 10 s have passed. Returns the open
// handle, which the caller closes, or INVALID_HANDLE_VALUE.
HANDLE CreateDestinationFile(InstallContext *ctx, LPCWSTR path);
