// The installer's own text formatter, the same in every build.
//
// Conversions: "%d" (signed 32-bit decimal), "%x" (unsigned 32-bit
// hexadecimal, lower case, no prefix), "%s" (a UTF-16 text; a null pointer
// formats as the empty text) and "%%" (one percent sign). Any other "%"
// sequence is copied as it stands. Arguments for "%d" and "%x" are 32-bit
// integers (int, LONG, DWORD); for "%s" a pointer to WCHAR.
//
// The formatter calls nothing of the system and leaves the last error alone.
#pragma once

#include <cstdarg>

#include "platform/win32.h"

// The outcome of one formatting call.
struct FormatResult {
  DWORD Length;  // units written, without the terminating zero
  BOOL Cut;      // TRUE when the text did not fit and was cut
};

// Formats into `buffer` of `capacity` units (terminating zero included).
// Never writes past the buffer: a text that does not fit is cut at the
// limit, never between the two halves of a surrogate pair, and terminated.
// With capacity 0 nothing is written.
FormatResult FormatTextV(WCHAR *buffer, DWORD capacity, LPCWSTR format, va_list args);
FormatResult FormatText(WCHAR *buffer, DWORD capacity, LPCWSTR format, ...);
