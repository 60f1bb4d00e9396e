// The command dispatcher: reads the command word from the process command
// line, runs one command and gives the process exit code.
#pragma once

#include "platform/win32.h"

// The module instance the system passed to the entry point; stored before
// anything else. The context takes the module path from it, the log dialog
// its template.
extern HINSTANCE ProgramInstance;

// Process exit codes.
enum ExitCode : DWORD {
  ExitInstalled = 1,            // install run without error line or restart
  ExitUninstalled = 2,          // uninstall run without error line or restart
  ExitAnswerNo = 3,             // "onChkDrv" or "onInit" answered no
  ExitDefaultSet = 4,           // "def.set" carried out
  ExitNoCommand = 6,            // no or unknown command word, or "removetray"
  ExitRunErrors = 100,          // an install or uninstall run wrote an error line
  ExitRestartNeeded = 101,      // no error line, files handed over for deletion at restart
  ExitDefaultNotProduct = 102,  // "onInit": the default printer is not the product's
  ExitDriverBuildOk = 103,      // "onChkDrv": the product's driver build is above 2450
  ExitPendingOperations = 200,  // "onInit": operations pending on the product's files
};

// Runs the command given on the process command line; returns the exit code.
DWORD DispatchCommand(HINSTANCE instance);

// The parent window named by the command line: only with exactly three
// arguments, argument 2 read as a signed 32-bit decimal, widened with its
// sign, and kept only when IsWindow accepts it. Null otherwise.
HWND ParentWindowArgument(int argc, LPWSTR *argv);

// Runs an install command (run flags 2, or 6 without the tray program) with
// the parent window as the owner of the log dialog. Returns the exit code:
// 100, 101 or 1.
DWORD InstallCommand(HWND parent, DWORD flags);

// Runs the uninstall command. Stores in *scheduled the number of paths the
// system accepted for deletion at restart; returns TRUE when the run wrote at
// least one error line.
BOOL UnInstallCommand(HWND parent, DWORD *scheduled);
