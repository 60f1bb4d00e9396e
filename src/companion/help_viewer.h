// The product's help viewer windows: top-level windows of the system's HTML
// help viewer (class "HH Parent") titled "Morvalente Help".
#pragma once

#include "platform/win32.h"

// Passes of CloseHelpViewer at most, 50 ms apart: 10 seconds. A window that
// never closes does not hold the installer up for longer.
const int HelpViewerPassLimit = 200;
const DWORD HelpViewerPassPauseMs = 50;

// Closes the product's help viewer windows, one per pass: finds one, asks it
// to close (WM_SYSCOMMAND, SC_CLOSE) and pauses 50 ms, until none is left or
// HelpViewerPassLimit passes have been made. Writes no log, reports nothing.
void CloseHelpViewer(void);
