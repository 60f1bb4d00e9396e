// "onChkDrv": the setup program's question about the installed driver's
// build, answered without a run context.
#pragma once

#include "platform/win32.h"

// Builds above this one answer yes.
const LONG MinimumDriverBuild = 2450;

// TRUE when the first printer of the product (in enumeration order) can be
// opened, its driver's level-2 information read, and the driver file's build
// is above 2450. Later printers of the product are never tried.
BOOL CheckDriverBuild(void);
