// The product's tray program "mrvtray.exe": asking it to exit, removing its
// file and its registration in the machine-wide Run key, registering and
// starting it. None of these writes to the run log or reports a failure; a
// failure only cuts the operation's own work short.
#pragma once

#include "app/context.h"
#include "platform/win32.h"

// Fixed waits, in passes and milliseconds.
const int TrayExitPasses = 20;        // searches for the window / exit requests
const DWORD TrayExitWaitMs = 5000;    // each wait on the tray program's mutex
const DWORD TraySearchPauseMs = 250;  // between searches while no window is found
const DWORD TrayRunValueUnreadPauseMs = 1000;
const int TrayFileDeleteAttempts = 10;
const DWORD TrayFileDeniedPauseMs = 100;  // after ERROR_ACCESS_DENIED
const DWORD TrayFileRetryPauseMs = 10;    // after any other error

// Characters of the path buffer for the Run value, and of the tray program's
// path that go into its command line.
const DWORD TrayRunValueChars = 264;
const DWORD TrayCommandPathLimit = 259;

// When the tray program runs (its mutex exists): asks it to exit through its
// window and waits on its mutex, at most 20 passes (about 105 s when it never
// lets go, 5 s when no window is found). Then, with the Run key open: deletes
// the file named by the Run value "MorvalenteTray" (up to 10 attempts) when
// the mutex could be opened and the value names a file "mrvtray.exe" (any
// case) by a full path (drive, colon, separator), and deletes the Run value. Nothing at all happens to file
// or value when the Run key cannot be opened.
void StopTrayProgram(void);

// StopTrayProgram for an install run: the same, except that the file at
// `keepPath` (compared ignoring ASCII case), the tray program the install is
// about to start again, is not deleted. Null keeps nothing.
void StopTrayProgramKeeping(LPCWSTR keepPath);

// The tray program's path: the parent directory of `moduleDir` (the
// installer's directory, with or without its trailing separator) followed by
// "mrvtray.exe"; "mrvtray.exe" alone when there is no parent directory.
// Returns FALSE and leaves *path empty when memory is short; the caller
// frees *path.
BOOL TrayProgramPath(CountedString moduleDir, CountedString *path);

// When ctx->LaunchTray is set and the system is of the NT family with major
// version 6 or later: writes the tray program's path (TrayProgramPath of
// ctx->ModuleDir) as the Run value "MorvalenteTray" and starts the program
// from its quoted path (at most 259 characters of it), without waiting for
// it. A Run key that cannot be opened does not prevent the start. A path
// without a directory (no installer directory known, or the installer at a
// drive's root) registers and starts nothing.
void StartTrayProgram(InstallContext *ctx);
