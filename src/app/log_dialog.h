// The log dialog: the run log in a read-only text box, a title that tells
// whether the run wrote error lines, and a "Close" button.
#pragma once

#include "app/context.h"
#include "app/resources/resource.h"  // IDD_LOG, IDC_LOG_TEXT
#include "platform/win32.h"

// Room for the dialog's title, terminating zero included.
const DWORD LogDialogTitleChars = 64;

// Formats the dialog's title into `title` (LogDialogTitleChars units):
// "Morvalente build 2563- Install" followed by " error log!" when
// errorCount is not 0, or by " log." when it is.
void FormatLogDialogTitle(WCHAR *title, LONG errorCount);

// The dialog procedure. WM_INITDIALOG (lParam: the InstallContext) puts the
// whole log into the text box and sets the title; the context is not read
// again afterwards and nothing in it changes. WM_COMMAND IDOK ends the dialog
// with 1, IDCANCEL with 0; other identifiers are ignored. Returns 0 for every
// message, leaving the focus and everything else to the system.
INT_PTR CALLBACK LogDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the run log modally from the program's template, owned by `parent`
// (or by no window), and returns when it is closed. A dialog that cannot be
// created changes nothing.
void ShowLogDialog(InstallContext *ctx, HWND parent);
