// The product's fixed names, shared by every part of the installer.
#pragma once

#include "platform/win32.h"

// The installer's own build number (the fourth number of its version).
const int InstallerBuild = 2563;

// Names of the spooler objects that belong to the product; they are matched
// exactly (case matters, a prefix does not match).
#define PRODUCT_MONITOR_NAME W("Morvalente:")
#define PRODUCT_DRIVER_NAME W("Morvalente printer")

// Environments and their component files.
#define ENVIRONMENT_X64 W("Windows x64")
#define ENVIRONMENT_X86 W("Windows NT x86")
#define MONITOR_FILE_X64 W("gwrmon64.dll")
#define MONITOR_FILE_X86 W("gwrmon32.dll")
#define DRIVER_FILE_X64 W("gwrdrv64.dll")
#define DRIVER_FILE_X86 W("gwrdrv32.dll")
#define UI_FILE_X64 W("gwrui64.dll")
#define UI_FILE_X86 W("gwrui32.dll")
#define HELP_FILE W("gwrhelp.chm")
