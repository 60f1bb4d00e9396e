// The run's list of files whose deletion failed, and their deferred deletion.
//
// The list's head is the InstallContext's LockedFiles. It runs from the
// newest path to the oldest and never holds two equal paths (the same units
// in the same order: paths that differ in letter case are different). Nodes
// and their path copies come from the global-memory allocator (GlobalAlloc,
// fixed, zero-filled) and go back with GlobalFree; the context owns them.
#pragma once

#include "platform/win32.h"

struct InstallContext;

// One path whose deletion failed.
struct LockedFileNode {
  LPWSTR Path;           // the node's own copy, exactly length + 1 characters
  LockedFileNode *Next;  // the following node, or null
};

// Puts a copy of `path` (not empty) at the front of the list unless an equal
// path is listed. Returns FALSE when memory ran out: the list is then left
// as it was and the path is not listed.
BOOL AddLockedFile(LockedFileNode **head, LPCWSTR path);

// Deletes the file now or, when that fails for any reason and the path is
// not empty, lists it in the context's LockedFiles. Logs nothing.
void DeleteOrRemember(InstallContext *ctx, LPCWSTR path);

// Writes "DeleteFile-try" and tries every listed path once, newest first:
// a path that is deleted, or whose file is gone (error 2), leaves the list;
// the others stay in their order.
void DeleteFileTry(InstallContext *ctx);

// Hands every listed path, newest first, to the system for deletion at the
// next restart, then empties the list (paths the system refused are
// dropped). Returns the number of paths the system accepted.
DWORD ScheduleDeleteAtRestart(InstallContext *ctx);

// Frees every node with its path copy and sets the head to null. An empty
// list stays unchanged.
void ClearLockedFileList(LockedFileNode **head);
