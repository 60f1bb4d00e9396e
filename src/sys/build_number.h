// The build number of a file: the fourth number of its product version.
#pragma once

#include "platform/win32.h"

// The fourth number of the file's product version (a.b.c.d gives d, 0 to
// 65535), or -1 when the file has no readable version resource (a missing
// file, a file without one, one whose fixed information is damaged).
LONG BuildNumber(LPCWSTR path);
