// The run log: one UTF-16 text in the context's Log, built line by line.
//
// A line is indentation (two blanks per IndentLevel, at most 10 levels, none
// at 0 or below), its text, then CR LF. Texts come from the installer's own
// formatter ("%d", "%x", "%s") through a buffer of 1024 units: a text longer
// than 1023 units is cut there. None of these calls changes the system's
// last error.
//
// With no context (operations that also run outside a run) nothing is
// written, error lines included.
//
// Operations that log open with a line ">Name", raise IndentLevel by 1 for
// their duration and lower it before every return.
#pragma once

#include "app/context.h"
#include "platform/win32.h"

// Limit of one line's text (without indentation and line end), in units.
const DWORD LogLineLimit = 1023;

// Formats the text and appends it as one line.
void WriteLog(InstallContext *ctx, LPCWSTR format, ...);

// Appends the error line "Error(<code>): <message>" followed, when the last
// system error is not 0, by " - (<system text>)" or " - ( No Description )",
// and raises ErrorCount by 1. The last error is read after formatting.
void LogError(InstallContext *ctx, int code, LPCWSTR format, ...);

// Appends indentation, the text (null or empty: none) and the line end.
void AppendLogLine(InstallContext *ctx, LPCWSTR text);

// The system's message text for the code in language 1033 with trailing CR
// and LF removed, or null when the system has none. The caller releases the
// text with LocalFree.
LPWSTR SystemErrorText(DWORD code);
