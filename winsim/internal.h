// winsim's internal joints between its subsystems. Not for tests.
#pragma once

#include <string>

#include "winsim/winsim.h"

namespace winsim::internal {

// Makes `m` the current machine.
void SetMachine(Machine &&m);
// Called when a new process begins: subsystems drop per-process objects.
void ResetProcessObjects();
// Called after the virtual clock moved: pending state changes complete.
void OnClock();

// Services (services.cpp)
Service *FindService(const std::string &name);
void ServicesOnClock();
bool SpoolerRunning();  // the "spooler" service is in the running state
void ServicesResetProcess();

// Spooler (spooler.cpp): the running spooler loads its monitors' DLLs.
void SpoolerStarted();
void SpoolerStopped();

// Files (files.cpp)
void FilesResetProcess();
// True when the holder of `h` has let go by the current virtual time.
bool HoldReleased(const FileHold &h);
// Drops the holds whose holder has let go by now.
void FilesOnClock();
// True when a file is open (by this process or another) in a way that
// forbids the access asked for.
bool FileBlocked(const std::string &winPath, DWORD desiredAccess, DWORD shareMode);
// Canonical key of a Windows path for comparisons (lower case, backslashes).
std::string PathKey(const std::string &winPath);
// Full Windows path of a DLL name relative to the system directory.
std::string SystemPath(const std::string &fileName);

// Processes (process.cpp)
void ProcessesResetProcess();
void ProcessesOnClock();

// Registry keys opened by the process (registry.cpp)
void RegistryResetProcess();

// Spooler handles (spooler.cpp)
void SpoolerResetProcess();

// Appends a deletion (path, empty new name) to PendingFileRenameOperations.
void AppendPendingDelete(const std::string &winPath);
void AppendPendingPair(const std::string &winPath, const std::string &newName);
// Closes a mutex, process or thread handle (process.cpp); false for others.
bool CloseProcessObject(HANDLE h);
// True when `h` names a window of the machine or of a dialog (process.cpp).
bool WindowExists(HWND h);

// Dialogs of the process (dialog.cpp): windows of class "#32770".
bool IsDialogWindow(HWND h);
// The innermost dialog window whose title matches (any title when null).
HWND FindDialogWindow(const std::string *title);

}  // namespace winsim::internal
