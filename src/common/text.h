// The installer's own small UTF-16 text helpers. None of them calls the
// system, so none of them touches the last error. A null text counts as the
// empty text everywhere.
#pragma once

#include <cstdint>

#include "platform/win32.h"

// Number of 16-bit units before the terminating zero.
uint64_t TextLength(LPCWSTR text);

// Exact equality: the same units in the same order, terminating zero
// included (case matters; a prefix is not equal).
BOOL TextEquals(LPCWSTR a, LPCWSTR b);

// Equality without regard to ASCII letter case (A-Z against a-z); every
// other unit must match exactly.
BOOL TextEqualsIgnoreCase(LPCWSTR a, LPCWSTR b);

// Whether the text is a full path: a drive letter, a colon and a backslash
// or slash. Any other name (relative, or a drive-relative one) would be
// looked for from the current directory.
BOOL IsFullPath(LPCWSTR path);

// Copies `text` with its terminating zero into `buffer` of `capacity` units.
// When it does not fit, nothing of it is kept: the buffer holds the empty
// text (when capacity allows) and the result is FALSE.
BOOL CopyText(WCHAR *buffer, uint64_t capacity, LPCWSTR text);

// Reads a signed 32-bit decimal number: leading white space (blank, tab,
// CR, LF, VT, FF) and one sign are accepted, reading stops at the first unit
// that is not a digit, a text without digits gives 0, and values beyond the
// 32-bit range are clamped to its limits.
LONG ParseDecimalInt32(LPCWSTR text);
