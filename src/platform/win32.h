// The installer's one door to the platform.
//
// The Windows build sees the SDK headers; the native build sees winsim's
// declarations of the same calls, records and constants. Either way the
// installer's code speaks plain Win32 and WCHAR is a 16-bit unit.
#pragma once

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>
#include <winspool.h>
#include <winver.h>

// The installer has operations of its own under these names; it calls the
// spooler's wide entry points explicitly, so the SDK's generic-name macros go.
#undef CopyFile
#undef AddMonitor
#undef DeleteMonitor
#undef AddPrinter
#undef AddPrinterDriver
#undef DeletePrinterDriver

// winspool.drv exports these two by ordinal only (203 and 204); the import
// library built from src/platform/winspool_ordinals.def binds these names.
extern "C" {
BOOL WINAPI SpoolGetDefaultPrinterW(LPWSTR pszBuffer, LPDWORD pcchBuffer);
BOOL WINAPI SpoolSetDefaultPrinterW(LPCWSTR pszPrinter);
}

#define W(s) L##s

#else

#include "winsim/win32.h"

#define W(s) u##s

#endif

static_assert(sizeof(WCHAR) == 2, "WCHAR is a 16-bit unit in both builds");
