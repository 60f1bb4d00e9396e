// Withdrawing pending deletions of files an install has just placed.
//
// An uninstall whose files stayed locked hands them to the system for
// deletion at the next restart. An install run before that restart places
// the same files again; left alone, the restart would delete them and break
// the product. The install therefore takes back exactly those deletions.
#pragma once

#include "platform/win32.h"

// Removes from "PendingFileRenameOperations" every deletion (a pair whose new
// name is empty) whose existing name, without a leading "\??\", equals
// `path` ignoring the case of ASCII letters. Every other pair stays, in its
// order. The value is written back only when something was withdrawn, and
// deleted when no pair remains; data that does not parse cleanly into
// zero-terminated strings is left untouched. Returns the number of
// deletions withdrawn (0 on any failure).
DWORD WithdrawPendingDeletes(LPCWSTR path);
