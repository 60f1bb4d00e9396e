// The system's pending file operations: the value "PendingFileRenameOperations"
// under HKEY_LOCAL_MACHINE "SYSTEM\CurrentControlSet\Control\Session Manager",
// pairs of strings (existing name, new name; an empty new name is a
// deletion). It is read, and written only to withdraw deletions of files an
// install has just placed again (WithdrawPendingDeletes).
//
// A name that begins with the four characters "\??\" is used without them
// for every file-system call and comparison; any other name is used whole.
// Only a full path (a drive letter, a colon and a separator) names a file:
// any other name counts as naming nothing, so nothing is deleted in the
// current directory.
//
// The value's data is taken as untrusted: nothing is read outside the block
// the data was read into, a string without its zero inside the data is not
// taken (nor anything after it), and a final string without a partner is
// not counted.
#pragma once

#include "platform/win32.h"

// The parsed operations. Scope-bound: ReadPendingRenames builds it and the
// end of its scope runs FreePendingRenames. Moving it hands the blocks over.
struct PendingRenameList {
  // 2 * PairCount copies of the strings, prefix kept (GlobalAlloc, exactly
  // length + 1 characters each), null for an empty string; null when
  // PairCount is 0.
  LPWSTR *Names = nullptr;
  // 2 * PairCount flags: 1 when the string names an existing file (not a
  // directory), else 0; null when PairCount is 0.
  LONG *Exists = nullptr;
  LONG PairCount = 0;  // whole pairs

  PendingRenameList() = default;
  PendingRenameList(PendingRenameList &&other);
  PendingRenameList(const PendingRenameList &) = delete;
  PendingRenameList &operator=(const PendingRenameList &) = delete;
  ~PendingRenameList();
};

// Reads and parses the value. Every failure (no key, no value, an empty or
// unreadable value, memory) gives an empty list; nothing is logged.
PendingRenameList ReadPendingRenames(void);

// Deletes the existing files that pending deletions name and clears their
// flags. A failed deletion is silent and leaves its flag set; renames are
// never touched.
void SweepPendingDeletes(PendingRenameList *list);

// Frees the names and both arrays and leaves the list empty.
void FreePendingRenames(PendingRenameList *list);

// "onInit", first half: after the sweep, does an existing file named
// "gwrmon64.dll", "gwrdrv64.dll" or "gwrui64.dll" (letter case aside) still
// have an operation pending, even after the spooler has been restarted?
// Reads the value, sweeps and searches; when it finds one it restarts the
// spooler (silently) and looks again. TRUE only when both looks find one.
BOOL CheckPendingComponentFiles(void);

// Withdrawing pending deletions of files an install has just placed.
//
// An uninstall whose files stayed locked hands them to the system for
// deletion at the next restart. An install run before that restart places
// the same files again; left alone, the restart would delete them and break
// the product. The install therefore takes back exactly those deletions.
//
// Removes from the value every deletion (a pair whose new name is empty)
// whose existing name, without a leading "\??\", equals `path` ignoring the
// case of ASCII letters. The pairs are those ReadPendingRenames reads; every
// other pair, and whatever follows the last pair, stays as it stands, in its
// order. The value is written back only when something was withdrawn, and
// deleted when nothing but the list's end remains; data with an odd byte
// count or a string without its zero is left untouched. Returns the number
// of deletions withdrawn (0 on any failure).
DWORD WithdrawPendingDeletes(LPCWSTR path);
